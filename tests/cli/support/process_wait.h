// Waits on what a running kivrel is doing, read from /proc, for tests that
// must act once it has reached a point: never a fixed time.
#pragma once

#include <sys/types.h>

// Until every thread of `pid` waits (a few seconds at most): all asleep
// in two looks, none having run between them, so at one moment all were
// blocked at once; a run then waits on its input and has done what it can.
bool waitUntilIdle(pid_t pid);
