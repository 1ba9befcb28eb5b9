// A saved processing script of any bytes (long lines, NUL bytes, broken
// calls, huge numbers) run on an instance: each line is skipped, run or
// refused with a message, and the instance's saved line stays readable.
#include <cstdlib>
#include <sstream>

#include "pluginhost/script_call.h"
#include "support/test_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TestHost host;
    FilterInstance inst(host.host());
    if (!inst.init().ok()) std::abort();
    std::istringstream script(std::string(reinterpret_cast<const char*>(data), size));
    const Status s = inst.runScript(script, "fuzz.vcf");
    if (!s.ok() && s.message().empty()) std::abort();
    // Whatever ran, the instance saves a line that is itself a valid call.
    ScriptCall call;
    ConfigArgs args;
    if (parseScriptCall(inst.scriptLine(), call) != LineKind::Call || !configArgsOf(call, args).ok())
        std::abort();
    return 0;
}
