#include "modes/video.h"

#include "measure/luma_form.h"
#include "modes/pixel_map.h"
#include "modes/video_kernels.h"
#include "params/luma.h"

namespace {

constexpr uint32_t kRedMask = 0xFF0000;
constexpr uint32_t kGreenMask = 0x00FF00;
constexpr uint32_t kBlueMask = 0x0000FF;
constexpr uint32_t kGreyScale = 0x010101;  // one level into all three bytes

uint32_t channelMask(const ScopeSettings& s) {
    if (s.passthru) return kRedMask | kGreenMask | kBlueMask;
    return (s.red ? kRedMask : 0) | (s.green ? kGreenMask : 0) | (s.blue ? kBlueMask : 0);
}

const VideoRowKernels* rowKernels(SimdLevel level) {
#if KIVREL_X86_KERNELS
    return kernelsAt(level, &kVideoRowsSse2, &kVideoRowsAvx2);
#else
    return kernelsAt<VideoRowKernels>(level, nullptr, nullptr);
#endif
}

}  // namespace

int renderVideo(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    const ScopeSettings& s = inst.settings;
    const VideoRowKernels* kernels = rowKernels(level);
    AffineLuma form;
    if (s.luma && !s.passthru && kernels != nullptr && findAffineLuma(inst, form)) {
        const uint32_t offsetGrey = static_cast<uint32_t>(inst.lumaOffset) * kGreyScale;
        mapRows(src, dst, [kernels, &form, offsetGrey](const uint32_t* in, uint32_t* out, int32_t n) {
            kernels->grey(form, offsetGrey, in, out, n);
        });
    } else if (s.luma && !s.passthru) {
        // Grey leaves out the added 1: the view shows the weights' own sum.
        const ScopeInstance& tables = inst;
        mapPixels(src, dst, [&tables](uint32_t px) {
            const uint32_t y =
                static_cast<uint32_t>(tables.lumaOffset) + (lumaWeightSum(tables, px) >> kLumaShift);
            return y * kGreyScale;
        });
    } else if (kernels != nullptr) {
        const uint32_t mask = channelMask(s);
        mapRows(src, dst, [kernels, mask](const uint32_t* in, uint32_t* out, int32_t n) {
            kernels->mask(in, out, n, mask);
        });
    } else {
        const uint32_t mask = channelMask(s);
        mapPixels(src, dst, [mask](uint32_t px) { return px & mask; });
    }
    return 0;
}
