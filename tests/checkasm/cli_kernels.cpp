// kivrel's YUV-to-RGB row kernel, on tables of random contributions (a
// luma table on a fitted line and one off it).
#include "checkasm/checkasm.h"

#include <memory>

#include "input/yuv_rows.h"
#include "input/yuv_rows_kernels.h"
#include "support/rng.h"

namespace {

// Contributions within +-2^24 in 16.16: sums stay far from overflow and
// still reach well past both ends of 0..255.
constexpr uint32_t kContributionSpan = 1u << 25;
constexpr int32_t kContributionLow = -(1 << 24);

int32_t contribution(TestRng& rng) {
    return kContributionLow + static_cast<int32_t>(rng.next() % kContributionSpan);
}

std::shared_ptr<YuvTables> randomTables(uint32_t seed, bool onLine) {
    TestRng rng{seed};
    auto t = std::make_shared<YuvTables>();
    const int32_t start = contribution(rng), slope = static_cast<int32_t>(rng.next() % (1u << 17));
    for (int v = 0; v < YuvTables::kLevels; ++v) t->y[v] = onLine ? start + v * slope : contribution(rng);
    // Chroma's factors of either sign, up to the largest a matrix needs and more.
    constexpr uint32_t kFactorSpan = 1u << 16;
    const auto factor = [&rng] { return static_cast<int16_t>(rng.next() % kFactorSpan); };
    t->chroma = {factor(), factor(), factor(), factor()};
    fitLumaLine(*t);
    return t;
}

}  // namespace

std::vector<KernelCase> cliKernelCases(uint32_t seed) {
    std::vector<KernelCase> cases;
    TestRng seeds{seed};
    for (const bool onLine : {true, false}) {
        const auto tables = randomTables(seeds.next(), onLine);
        cases.push_back(
            {std::string("yuv.row") + (onLine ? ".line" : ".table"),
             [tables](SimdLevel level, const CheckRows& rows, std::vector<uint32_t>* out) {
                 const YuvRowKernel kernel = ran(yuvRowKernel(level));
                 // The words' bytes are Y; their high bits Cb's and Cr's distances, every fine level.
                 const int32_t w = rows.w;
                 constexpr uint32_t kDistances = 2 * kFineMiddle;
                 std::vector<int16_t> cb(static_cast<size_t>(w)), cr(cb.size());
                 std::vector<uint32_t> words(static_cast<size_t>(w));
                 for (int32_t y = 0; y < rows.h; ++y) {
                     const uint32_t* source = rows.row(y);
                     for (int32_t x = 0; x < w; ++x) {
                         cb[static_cast<size_t>(x)] = static_cast<int16_t>(
                             static_cast<int32_t>(source[x] >> 8 & (kDistances - 1)) - kFineMiddle);
                         cr[static_cast<size_t>(x)] = static_cast<int16_t>(
                             static_cast<int32_t>(source[x] >> 20 & (kDistances - 1)) - kFineMiddle);
                     }
                     kernel(*tables, YuvRow{reinterpret_cast<const uint8_t*>(source), cb.data(), cr.data(),
                                            words.data(), w, 0});
                     if (out) out->insert(out->end(), words.begin(), words.end());
                 }
             }});
    }
    return cases;
}

std::vector<KernelTableView> hostKernelTables() {
    return {{"yuv", "YuvRowKernels", [](SimdLevel l) {
                 const YuvRowKernels k = {yuvRowKernel(l)};
                 return slotsOf<YuvRowKernels>({KIVREL_SLOT(k, row)});
             }}};
}
