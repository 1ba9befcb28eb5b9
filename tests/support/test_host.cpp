#include "support/test_host.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "settings/script_command.h"

extern "C" int KV_CDECL VirtualdubFilterModuleInit2(sdk::FilterModule*, const sdk::FilterFunctions*, int&,
                                                    int&) noexcept;
extern "C" void KV_CDECL VirtualdubFilterModuleDeinit(sdk::FilterModule*,
                                                      const sdk::FilterFunctions*) noexcept;

ModuleEntryPoints linkedModule() { return {VirtualdubFilterModuleInit2, VirtualdubFilterModuleDeinit}; }

LoadedModule::LoadedModule(const std::string& path) {
    status_ = library_.open(path);
    if (!status_.ok()) return;
    entry_.init = reinterpret_cast<sdk::ModuleInitProc>(library_.symbol(sdk::kModuleInitName));
    entry_.deinit = reinterpret_cast<sdk::ModuleDeinitProc>(library_.symbol(sdk::kModuleDeinitName));
    if (entry_.init == nullptr || entry_.deinit == nullptr) status_ = Status::fail("missing exports");
}

TestHost::TestHost(ModuleEntryPoints module)
    : host_(FilterModuleHost::open(module, "linked into the tests", status_)) {}

TestInstance::TestInstance(const TestHost& host)
    : instance_(host.host(), InstanceLayout{kRecordFill, kOutputFill}) {
    if (!instance_.init().ok()) throw std::runtime_error("initProc failed");
}

void TestInstance::config(const ConfigArgs& args) {
    if (Status s = instance_.callScript(kConfigFunctionName, args); !s.ok())
        throw std::runtime_error(s.message());
}

std::string TestInstance::label() {
    // Pre-filled, so a label that writes nothing shows as the host's own bytes.
    return instance_.labelText(kUntouchedLabelByte);
}

std::string TestInstance::scriptLine(int size) {
    std::string line;
    if (Status s = instance_.scriptLine(line, size); !s.ok()) throw std::runtime_error(s.message());
    if (instance_.lastResult() == 0) throw std::runtime_error("fssProc false");
    return line;
}

void TestInstance::copySource() {
    Frame f = instance_.source().frame();
    for (int32_t y = 0; y < pending_.h; ++y)
        for (int32_t x = 0; x < pending_.w; ++x) f.canvasRow(y)[x] = pending_.at(x, y);
}

void TestInstance::setSource(const Image& img, int32_t padPixels) {
    pending_ = img;
    pendingPad_ = padPixels;
    const FrameBuffer& src = instance_.source();
    if (src.w() == img.w && src.h() == img.h &&
        src.pitch() == 4 * (static_cast<ptrdiff_t>(img.w) + padPixels))
        copySource();
}

long TestInstance::param(int32_t padPixels) {
    // A refusal of the geometry is the host's business; the tests read the result.
    (void)instance_.prepare(pending_.w, pending_.h, pendingPad_, padPixels);
    copySource();
    return instance_.lastResult();
}

int TestInstance::run() {
    (void)instance_.run(0);  // a stray write shows in the padding checks
    return static_cast<int>(instance_.lastResult());
}
int TestInstance::configure() {
    int result = 0;
    if (Status s = instance_.configure(result); !s.ok()) throw std::runtime_error(s.message());
    return result;
}
int TestInstance::start() {
    (void)instance_.start();
    return static_cast<int>(instance_.lastResult());
}
int TestInstance::end() {
    (void)instance_.end();
    return static_cast<int>(instance_.lastResult());
}

Image TestInstance::render(const ConfigArgs& args, const Image& src) {
    config(args);
    setSource(src, 5);
    param();
    start();
    run();
    end();
    return output();
}

ConfigArgs defaultArgs(DisplayMode mode) {
    int raw[kConfigArgCount];
    settingsAsConfigArgs(kDefaultSettings, raw);
    ConfigArgs a{};
    std::copy(std::begin(raw), std::end(raw), a.begin());
    a[kArgMode] = static_cast<int>(mode);
    return a;
}

std::string describe(const ScopeSettings& s) {
    return "mode " + std::to_string(s.mode) + " passthru " + std::to_string(s.passthru) + " accum " +
           std::to_string(s.accum) + " ntsc " + std::to_string(s.ntsc) + " gamma " + std::to_string(s.gamma) +
           " stdDef " + std::to_string(s.stdDef) + " rng255 " + std::to_string(s.rng255) + " luma " +
           std::to_string(s.luma) + " red " + std::to_string(s.red) + " green " + std::to_string(s.green) +
           " blue " + std::to_string(s.blue) + " wfmGrid " + std::to_string(s.wfmGrid) + " hotFix " +
           std::to_string(s.hotFix) + " maxIRE " + std::to_string(s.maxIRE);
}
