// The host's YUV-to-RGB row kernel, on tables of random contributions (a
// luma table on a fitted line and one off it) and every chroma spread.
#include "checkasm/checkasm.h"

#include <memory>

#include "input/yuv_rows.h"
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
    for (int v = 0; v < YuvTables::kLevels; ++v) {
        t->cr[v] = {contribution(rng), contribution(rng)};
        t->cb[v] = {contribution(rng), contribution(rng)};
    }
    fitLumaLine(*t);
    return t;
}

}  // namespace

std::vector<KernelCase> hostKernelCases() {
    std::vector<KernelCase> cases;
    struct Spread {
        const char* name;
        ChromaSpread spread;
    };
    constexpr Spread kSpreads[] = {
        {"each", ChromaSpread::Each}, {"pairs", ChromaSpread::Pairs}, {"mapped", ChromaSpread::Mapped}};
    for (const bool onLine : {true, false})
        for (const Spread& sp : kSpreads) {
            const auto tables = randomTables(onLine ? 5 : 6, onLine);
            const ChromaSpread spread = sp.spread;
            cases.push_back(
                {std::string("yuv.row.") + sp.name + (onLine ? ".line" : ".table"),
                 [tables, spread](SimdLevel level, const CheckRows& rows, std::vector<uint32_t>* out) {
                     const YuvRowKernel kernel = yuvRowKernel(level);
                     // The words' bytes are the planes: Y from one row, Cb and Cr
                     // from the next (or the same), a column map reversed.
                     const int32_t w = rows.w;
                     std::vector<int32_t> column(static_cast<size_t>(w));
                     for (int32_t x = 0; x < w; ++x) column[static_cast<size_t>(x)] = w - 1 - x;
                     std::vector<uint32_t> words(static_cast<size_t>(w) * YuvRow::kMostRows);
                     for (int32_t y = 0, take = 0; y < rows.h; y += take) {
                         take = y + 1 < rows.h ? YuvRow::kMostRows : 1;
                         const uint8_t* bytes = reinterpret_cast<const uint8_t*>(rows.row(y));
                         const uint8_t* next = reinterpret_cast<const uint8_t*>(rows.row(y + take - 1));
                         YuvRow row{};
                         row.rows = take;
                         row.y[0] = bytes;
                         row.y[1] = next;
                         row.out[0] = words.data();
                         row.out[1] = words.data() + w;
                         row.cb = next;
                         row.cr = bytes + w;
                         row.w = w;
                         row.spread = spread;
                         row.column = column.data();
                         kernel(*tables, row);
                         if (out)
                             out->insert(out->end(), words.begin(),
                                         words.begin() + static_cast<ptrdiff_t>(w) * row.rows);
                     }
                 }});
        }
    return cases;
}
