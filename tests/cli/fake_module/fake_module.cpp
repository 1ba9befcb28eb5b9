// Stand-in filter modules, each wrong in one way, built once per FAKE_*
// definition: the host must refuse them with a clear message, or catch what
// they do to its frames.
#include <csignal>
#include <cstdint>
#include <cstdlib>

#include "sdk/filter_sdk.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

#if defined(FAKE_TOO_NEW)
constexpr int kVersion = 9, kCompatVersion = 9;  // needs a newer host than any we have
#elif defined(FAKE_TOO_OLD)
constexpr int kVersion = 3, kCompatVersion = 2;  // older than the oldest records we read
#else
constexpr int kVersion = sdk::kFilterDefVersion, kCompatVersion = sdk::kFilterDefCompatVersion;
#endif

long paramProc(sdk::FilterActivation*, const sdk::FilterFunctions*) { return sdk::kFilterParamSwapBuffers; }

// Copies the picture, and on every row but the top one of the storage also
// writes the word just past the row's pixels: padding when the host pads,
// the next row's first pixel when it does not.
int runProc(const sdk::FilterActivation* fa, const sdk::FilterFunctions*) {
#if defined(FAKE_CRASH)
    // Faults on the third frame, after two have been written, with the
    // signal $FAKE_CRASH_SIGNAL names (SIGSEGV without). Raised, not
    // provoked, so that a sanitizer build sees the same fault.
    static int calls = 0;
    const char* sig = std::getenv("FAKE_CRASH_SIGNAL");
    if (++calls == 3) std::raise(sig != nullptr ? std::atoi(sig) : SIGSEGV);
#endif
    const sdk::VFBitmap& src = *fa->src;
    const sdk::VFBitmap& dst = *fa->dst;
    for (int32_t k = 0; k < dst.h; ++k) {
        const auto* in =
            reinterpret_cast<const uint32_t*>(reinterpret_cast<const char*>(src.data) + k * src.pitch);
        auto* out = reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(dst.data) + k * dst.pitch);
        for (int32_t x = 0; x < dst.w; ++x) out[x] = in[x];
#if defined(FAKE_STRAY_WRITE)
        if (k + 1 < dst.h) out[dst.w] = 0x123456;
#endif
    }
    return 0;
}

sdk::FilterDefinition fakeFilter = {
    nullptr,   nullptr, nullptr, "Fake",  "a stand-in", "tests", nullptr, {4},     nullptr, nullptr, runProc,
    paramProc, nullptr, nullptr, nullptr, nullptr,      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

#if defined(FAKE_NO_EXPORTS)
FAKE_EXPORT int fakeSomethingElse() { return 0; }
#else
FAKE_EXPORT int VirtualdubFilterModuleInit2([[maybe_unused]] sdk::FilterModule* module,
                                            [[maybe_unused]] const sdk::FilterFunctions* ff, int& version,
                                            int& compatVersion) {
#if defined(FAKE_INIT_FAILS)
    return 1;
#endif
#if !defined(FAKE_NO_FILTER)
    ff->addFilter(module, &fakeFilter, sizeof fakeFilter);
#endif
    version = kVersion;
    compatVersion = kCompatVersion;
    return 0;
}

FAKE_EXPORT void VirtualdubFilterModuleDeinit(sdk::FilterModule*, const sdk::FilterFunctions*) {}
#endif
