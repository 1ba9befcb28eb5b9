// `kivrel defaults [settings options]`: the stored defaults every new
// instance starts from, shown, or set and then shown.
#include "commands/commands.h"
#include "commands/store_command.h"
#include "options/stored_defaults.h"
#include "vocabulary.h"

int runDefaultsCommand(int argc, char** argv) {
    Options options;
    if (const int status = parseStoreCommandLine(argc, argv, options); status != kExitOk) return status;
    return setDefaults(options);
}
