// The "Config" arguments (any thirteen integers) and the buffers the host
// hands to fssProc and stringProc (any size): the saved line always ends
// inside its buffer and reads back to the same settings.
#include <cstdlib>
#include <cstring>

#include "core/settings_vocabulary.h"
#include "fuzz_input.h"
#include "pluginhost/script_call.h"
#include "settings/script_command.h"
#include "support/test_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    static TestHost host;
    FilterInstance inst(host.host());
    if (!inst.init().ok()) std::abort();
    ConfigArgs args;
    for (int& a : args) a = in.next<int>();
    if (!inst.callScript(kConfigFunctionName, args).ok()) std::abort();

    // Bytes past the declared size are guarded by the host library.
    std::string line;
    const int bufferSize = static_cast<int>(in.inRange(-4, 300));
    if (!inst.scriptLine(line, bufferSize).ok()) std::abort();
    if (bufferSize > 0 && line.size() >= static_cast<size_t>(bufferSize)) std::abort();

    // A full-size line reads back to the same settings.
    std::string full;
    if (!inst.scriptLine(full).ok()) std::abort();
    FilterInstance copy(host.host());
    if (!copy.init().ok() || !copy.runScriptLine(full).ok()) std::abort();
    std::string again;
    if (!copy.scriptLine(again).ok() || again != full) std::abort();

    // The label (or nothing, for some displays) fits the shortest buffer a host gives.
    if (inst.labelText().size() + 1 > kLabelMax) std::abort();
    return 0;
}
