// kivrel report: whole files checked for broadcast legality with the
// filter's own measures; numbers, charts and an exit status.
#pragma once

inline constexpr int kExitRuleBroken = 3;  // a rule --fail-on names is broken

// argv[0] is "report".
int runReportCommand(int argc, char** argv);
