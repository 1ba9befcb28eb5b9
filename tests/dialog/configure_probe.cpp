// Opens the configuration dialog of a built module as a host does and
// prints what came of it: configProc's result, then the instance's script
// line. The terminal form tests drive it in tmux.
// usage: kivrel_configure_probe MODULE
#include <cstdio>

#include "pluginhost/module_host.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
        return 2;
    }
    Status status;
    auto host = FilterModuleHost::load(argv[1], status);
    if (host == nullptr) {
        std::fprintf(stderr, "%s\n", status.message().c_str());
        return 2;
    }
    FilterInstance instance(*host);
    int result = 0;
    if (Status s = instance.init(); !s.ok())
        status = s;
    else if (Status c = instance.configure(result); !c.ok())
        status = c;
    if (!status.ok()) {
        std::fprintf(stderr, "%s\n", status.message().c_str());
        return 2;
    }
    std::printf("result %d\n%s\n", result, instance.scriptLine().c_str());
    return 0;
}
