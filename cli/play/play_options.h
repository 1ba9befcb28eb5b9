// The viewer's own options, taken out before the render's parser sees the rest.
#pragma once

#include <vector>

#include "play/player.h"
#include "pluginhost/status.h"

// Takes the viewer's own options (--paused, --presented-md5 FILE,
// --input-format FMT) out of argv; the rest, argv[0] first, is a render's
// command line for `rest`.
Status takePlayOptions(int argc, char** argv, PlayOptions& play, std::vector<char*>& rest);
