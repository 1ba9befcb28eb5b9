// `kivrel play INPUT [options]`: the input in a window, in real time, with
// the displays a render with the same options would write.
#pragma once

#include <vector>

#include "play/player.h"
#include "pluginhost/status.h"

// Takes the viewer's own options (--paused, --presented-md5 FILE) out of
// argv; the rest, argv[0] first, is a render's command line for `rest`.
Status takePlayOptions(int argc, char** argv, PlayOptions& play, std::vector<char*>& rest);

// argv[0] is "play". Returns the process's exit status.
int runPlayCommand(int argc, char** argv);
