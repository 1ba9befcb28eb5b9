// `kivrel play INPUT [options]`: the input in a window, in real time, with
// the displays a render with the same options would write.
#pragma once

// argv[0] is "play". Returns the process's exit status.
int runPlayCommand(int argc, char** argv);
