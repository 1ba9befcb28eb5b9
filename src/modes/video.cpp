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

// The scalar set: the reference every vector set matches. Its grey reads
// the same affine form the vector sets do; rows without one (stale tables)
// take the weight rows pixel by pixel below, at every level.
void maskScalar(const uint32_t* in, uint32_t* out, int32_t n, uint32_t mask) {
    for (int32_t x = 0; x < n; ++x) out[x] = in[x] & mask;
}

void greyScalar(const AffineLuma& form, uint32_t offsetGrey, const uint32_t* in, uint32_t* out, int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        out[x] = (affineWeightSum(form, in[x]) >> kLumaShift) * kGreyScale + offsetGrey;
    }
}

const VideoRowKernels kVideoRowsScalar = {maskScalar, greyScalar};
KernelTable<VideoRowKernels> kVideoRowTable = {
    &kVideoRowsScalar, KIVREL_X86_SETS(kVideoRowsSse2, kVideoRowsAvx2, kVideoRowsAvx512)};

}  // namespace

const VideoRowKernels& videoRowKernels(SimdLevel level) { return kernelsFor(level, kVideoRowTable); }

int renderVideo(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    const ScopeSettings& s = inst.settings;
    const VideoRowKernels& kernels = videoRowKernels(level);
    AffineLuma form;
    if (s.luma && !s.passthru && findAffineLuma(inst, form)) {
        const uint32_t offsetGrey = static_cast<uint32_t>(inst.lumaOffset) * kGreyScale;
        mapRows(src, dst, [&kernels, &form, offsetGrey](const uint32_t* in, uint32_t* out, int32_t n) {
            kernels.grey(form, offsetGrey, in, out, n);
        });
    } else if (s.luma && !s.passthru) {
        // Grey leaves out the added 1: the view shows the weights' own sum.
        const ScopeInstance& tables = inst;
        mapPixels(src, dst, [&tables](uint32_t px) {
            const uint32_t y =
                static_cast<uint32_t>(tables.lumaOffset) + (lumaWeightSum(tables, px) >> kLumaShift);
            return y * kGreyScale;
        });
    } else {
        const uint32_t mask = channelMask(s);
        mapRows(src, dst, [&kernels, mask](const uint32_t* in, uint32_t* out, int32_t n) {
            kernels.mask(in, out, n, mask);
        });
    }
    return 0;
}
