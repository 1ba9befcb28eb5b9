#include "run/print_config.h"

#include <cstdio>

void printConfig(FilterInstance& inst) {
    std::printf("%s\n%s\n", inst.label().c_str(), inst.scriptLine().c_str());
}

void printConfig(Monitor& monitor) { std::fputs(monitor.settingsText().c_str(), stdout); }
