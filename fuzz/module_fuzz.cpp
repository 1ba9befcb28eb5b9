// The module through its exports, as a host drives it: any settings a script
// can store, any frame size and pitch, any pixels, several frames per
// instance, every callback in host order. A stray write shows in the row
// padding's sentinel; anything else undefined, in the sanitizers.
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "core/settings_vocabulary.h"
#include "fuzz_input.h"
#include "settings/settings_store.h"
#include "support/test_host.h"

namespace {

constexpr int32_t kMaxSide = 3000;
constexpr int64_t kMaxPixels = 1 << 18;  // keeps one case fast enough to explore
constexpr int32_t kMaxPad = 64;          // words after each row
constexpr int kMaxFrames = 3;

[[noreturn]] void fault(const Status& s) {
    std::fprintf(stderr, "%s\n", s.message().c_str());
    std::abort();
}

// Settings as a script may store them: any integer, flags included.
void configure(FilterInstance& inst, FuzzInput& in) {
    int args[kConfigArgCount];
    for (int& a : args) a = in.next<uint8_t>() < 224 ? static_cast<int>(in.inRange(-2, 6)) : in.next<int>();
    if (Status s = inst.callScript(kConfigFunctionName, args); !s.ok()) fault(s);
}

// maxIRE reaches an instance only through the store, read when it is
// created: a store of this run's own (the file store; Windows runs keep the
// defaults rather than touch a registry), written when the ceiling changes.
void storeCeiling(int32_t maxIre) {
#ifndef _WIN32
    static int32_t stored = -1;
    if (stored < 0) {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/kivrel-fuzz-XXXXXX";
        if (::mkdtemp(folder.data()) == nullptr) std::abort();
        ::setenv("KIVREL_REGISTRY", (folder + "/registry.reg").c_str(), 1);
    }
    if (maxIre != stored) writeRegistryText(kSettingsKey, "maxIRE", std::to_string(maxIre).c_str());
    stored = maxIre;
#else
    (void)maxIre;
#endif
}

void fillPixels(FrameBuffer& frame, FuzzInput& in) {
    Frame f = frame.frame();
    const uint32_t seed = in.next<uint32_t>();
    const bool random = (seed & 1) != 0;
    uint32_t x = seed | 1;
    for (int32_t row = 0; row < f.h; ++row) {
        uint32_t* p = f.storedRow(row);
        for (int32_t col = 0; col < f.w; ++col) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;  // xorshift32: cheap, covers every byte
            p[col] = random ? x : seed;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    static TestHost host;
    storeCeiling(static_cast<int32_t>(in.inRange(kMaxIreLowest, kMaxIreHighest)));
    FilterInstance inst(host.host());
    if (Status s = inst.init(); !s.ok()) fault(s);
    configure(inst, in);
    (void)inst.label();
    std::string line;
    if (Status s = inst.scriptLine(line, static_cast<int>(in.inRange(0, 80))); !s.ok()) fault(s);

    const int32_t w = static_cast<int32_t>(in.inRange(1, kMaxSide));
    const int32_t h = static_cast<int32_t>(
        in.inRange(1, std::max<int64_t>(1, std::min<int64_t>(kMaxSide, kMaxPixels / w))));
    const int32_t pad = static_cast<int32_t>(in.inRange(0, kMaxPad));
    if (Status s = inst.prepare(w, h, pad, static_cast<int32_t>(in.inRange(0, kMaxPad))); !s.ok()) fault(s);
    if (Status s = inst.start(); !s.ok()) fault(s);
    const int frames = static_cast<int>(in.inRange(1, kMaxFrames));
    for (int k = 0; k < frames; ++k) {
        fillPixels(inst.source(), in);
        // A script may change the settings between frames without a new parameter stage.
        if (in.next<uint8_t>() < 64) configure(inst, in);
        if (Status s = inst.run(k); !s.ok()) fault(s);
    }
    if (Status s = inst.end(); !s.ok()) fault(s);
    return 0;
}
