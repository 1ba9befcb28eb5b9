// The filter's row kernels, each on a record prepared as the parameter stage
// leaves it for the display that uses the kernel.
#include "checkasm/checkasm.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "measure/hot_kernels.h"
#include "measure/level_pairs.h"
#include "measure/level_words.h"
#include "measure/luma_form.h"
#include "modes/vectorscope_kernels.h"
#include "modes/video_kernels.h"
#include "modes/waveform_kernels.h"
#include "support/simd_cases.h"

namespace {

using Out = std::vector<uint32_t>;

std::shared_ptr<const ScopeInstance> recordFor(DisplayMode mode) {
    ScopeSettings s = kDefaultSettings;
    s.mode = static_cast<int32_t>(mode);
    s.passthru = 0;
    s.luma = 1;
    OutputGeometry g;
    return prepared(s, 8, 8, g);
}

AffineLuma formOf(const ScopeInstance& inst) {
    AffineLuma form{};
    findAffineLuma(inst, form);  // every prepared record has one (a measure test says so)
    return form;
}

// Runs `row(in, out, w)` over each row and keeps what it wrote.
template <typename Row>
void eachRow(const CheckRows& rows, Out* out, Row row) {
    Out words(static_cast<size_t>(rows.w));
    for (int32_t y = 0; y < rows.h; ++y) {
        row(rows.row(y), words.data(), rows.w);
        if (out) out->insert(out->end(), words.begin(), words.end());
    }
}

constexpr uint32_t kSomeChannels = 0xFF00FF;  // red and blue: a mask that drops a byte between two kept

void addVideoCases(std::vector<KernelCase>& cases) {
    const auto inst = recordFor(DisplayMode::Video);
    const AffineLuma form = formOf(*inst);
    cases.push_back({"video.mask", [](SimdLevel level, const CheckRows& rows, Out* out) {
                         const VideoRowKernels& k = videoRowKernels(level);
                         eachRow(rows, out, [&k](const uint32_t* in, uint32_t* o, int32_t n) {
                             ran(k.mask)(in, o, n, kSomeChannels);
                         });
                     }});
    cases.push_back({"video.grey", [inst, form](SimdLevel level, const CheckRows& rows, Out* out) {
                         const VideoRowKernels& k = videoRowKernels(level);
                         // Any offset: the sum wraps modulo 2^32 in every set alike.
                         const uint32_t offsetGrey = static_cast<uint32_t>(inst->lumaOffset - 7) * 0x010101u;
                         eachRow(rows, out, [&](const uint32_t* in, uint32_t* o, int32_t n) {
                             ran(k.grey)(form, offsetGrey, in, o, n);
                         });
                     }});
}

void addVectorscopeCases(std::vector<KernelCase>& cases) {
    const auto inst = recordFor(DisplayMode::Vectorscope);
    DotPlacement place{};
    place.luma = formOf(*inst);
    findChromaScaleForm(inst->uScale, place.u);  // a prepared record has them (a mode test says so)
    findChromaScaleForm(inst->vScale, place.v);
    // Any placement: the offsets are a sum that every set computes alike.
    constexpr int16_t kRowStep = 2560;
    constexpr int32_t kOrigin = 317 * kRowStep + 314 * 4;
    place.rowStep = kRowStep;
    place.origin = kOrigin;
    for (const int32_t offset : {0, -16, 16}) {
        cases.push_back({"vectorscope.offsets" + std::string(offset == 0  ? ""
                                                             : offset < 0 ? ".below"
                                                                          : ".above"),
                         [place, offset](SimdLevel level, const CheckRows& rows, Out* out) {
                             const VectorscopeRowKernels& k = vectorscopeRowKernels(level);
                             DotPlacement at = place;
                             at.lumaOffset = offset;
                             eachRow(rows, out, [&](const uint32_t* in, uint32_t* o, int32_t n) {
                                 ran(k.offsets)(at, in, reinterpret_cast<int32_t*>(o), n);
                             });
                         }});
    }
}

void addWaveformCases(std::vector<KernelCase>& cases) {
    const auto inst = recordFor(DisplayMode::Waveform);
    const AffineLuma form = formOf(*inst);
    // The counts of every block of whole columns, then every channel's dots
    // drawn from them (which also empties them): counts, frame and the
    // emptied counts are all compared.
    cases.push_back(
        {"waveform.count+draw", [form](SimdLevel level, const CheckRows& rows, Out* out) {
             const WaveformKernels& k = waveformKernels(level);
             struct Held {
                 WaveformCounts counts;
             };
             const auto held = std::make_unique<Held>();  // 32 KiB: off the stack
             WaveformCounts& counts = held->counts;
             constexpr uint32_t kByteMasks[kChannelCount] = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF};
             Out frame(static_cast<size_t>(kLevels) * kWaveformBlock);
             for (int32_t x0 = 0; x0 + kWaveformBlock <= rows.w; x0 += kWaveformBlock) {
                 *held = {};
                 ran(k.count)(form, rows.row(0) + x0, rows.pitch * static_cast<ptrdiff_t>(sizeof(uint32_t)),
                              rows.h, counts);
                 const WaveformCount* flat = &counts[0][0][0];
                 if (out) out->insert(out->end(), flat, flat + kWaveformCells);
                 for (int ch = 0; ch < kChannelCount; ++ch) {
                     for (size_t i = 0; i < frame.size(); ++i) frame[i] = rows.words[i % rows.words.size()];
                     // Every level upwards, as a full panel reads them.
                     ran(k.draw)(counts, ch, 0, 1, kLevels, frame.data(),
                                 kWaveformBlock * static_cast<ptrdiff_t>(sizeof(uint32_t)), kByteMasks[ch]);
                     if (out) out->insert(out->end(), frame.begin(), frame.end());
                 }
                 if (out) out->insert(out->end(), flat, flat + kWaveformCells);
             }
         }});
}

// The records the measure kernels read: as the histograms and the hot pixel
// scan prepare them, and with random settings as every display leaves them
// (what a script that switches the display afterwards hands the kernels).
std::vector<std::pair<std::shared_ptr<const ScopeInstance>, std::string>> measureRecords(uint32_t seed) {
    std::vector<std::pair<std::shared_ptr<const ScopeInstance>, std::string>> records = {
        {recordFor(DisplayMode::Histograms), ".histograms"}, {recordFor(DisplayMode::HotPixel), ".hotpixel"}};
    constexpr int kRandomRecords = 4;  // per display
    TestRng rng{seed};
    for (DisplayMode mode : kModes) {
        for (int trial = 0; trial < kRandomRecords; ++trial) {
            ScopeSettings s = randomSettings(rng, mode);
            s.passthru = 0;
            OutputGeometry g;
            records.emplace_back(prepared(s, 8, 8, g), " (" + describe(s) + ")");
        }
    }
    return records;
}

void addMeasureCases(std::vector<KernelCase>& cases, uint32_t seed) {
    for (const auto& record : measureRecords(seed)) {
        const std::shared_ptr<const ScopeInstance> inst = record.first;
        const std::string& display = record.second;
        cases.push_back({"levels.words" + display, [inst](SimdLevel level, const CheckRows& rows, Out* out) {
                             LevelWordSource src;
                             const LevelWordKernels& k = levelWordKernels(*inst, level, src);
                             eachRow(rows, out, [&](const uint32_t* in, uint32_t* o, int32_t n) {
                                 ran(k.levels)(src, in, o, n);
                             });
                         }});
        cases.push_back(
            {"levels.extremes" + display, [inst](SimdLevel level, const CheckRows& rows, Out* out) {
                 LevelWordSource src;
                 const LevelWordKernels& k = levelWordKernels(*inst, level, src);
                 uint32_t lowest = ~0u, highest = 0;
                 eachRow(rows, out, [&](const uint32_t* in, uint32_t* o, int32_t n) {
                     ran(k.levelsAndExtremes)(src, in, o, n, lowest, highest);
                 });
                 if (out) out->push_back(lowest);
                 if (out) out->push_back(highest);
             }});
        // The pair tables' cells and the carries of cells that wrapped,
        // counted row by row into one set as a frame's rows are. The set
        // (128 KiB: off the stack) is made once per case: a new one per shape
        // and level is most of the sanitized run's time, in its allocator.
        // The cells go out as (index, count) of those a row reached, which
        // two sets share exactly when every cell is the same; read eight at a
        // time and emptied as they are read, ready for the next call.
        const auto set = std::make_shared<LevelPairSet>();
        cases.push_back(
            {"levels.pairs" + display, [inst, set](SimdLevel level, const CheckRows& rows, Out* out) {
                 LevelWordSource src;
                 const LevelWordKernels& k = levelWordKernels(*inst, level, src);
                 LevelCounts counts = {};
                 for (int32_t y = 0; y < rows.h; ++y)
                     ran(k.countPairs)(src, rows.row(y), rows.w, *set, counts);
                 uint8_t* cells = &set->cells[0][0];
                 constexpr uint32_t kChunk = sizeof(uint64_t);
                 for (uint32_t i = 0; i < sizeof set->cells; i += kChunk) {
                     uint64_t chunk;
                     std::memcpy(&chunk, cells + i, kChunk);
                     if (chunk == 0) continue;
                     for (uint32_t j = i; j < i + kChunk; ++j)
                         if (cells[j] != 0 && out) out->insert(out->end(), {j, cells[j]});
                     std::memset(cells + i, 0, kChunk);
                 }
                 if (!out) return;
                 const uint32_t* flat = &counts[0][0];
                 out->insert(out->end(), flat, flat + sizeof counts / sizeof *flat);
             }});
        cases.push_back({"hot.decide" + display, [inst](SimdLevel level, const CheckRows& rows, Out* out) {
                             HotRowSource src;
                             const HotPixelKernels& k = hotPixelKernels(*inst, level, src);
                             std::vector<int32_t> hot(static_cast<size_t>(rows.w));
                             eachRow(rows, out, [&](const uint32_t* in, uint32_t* o, int32_t n) {
                                 const int32_t found = ran(k.decide)(src, in, o, n, hot.data());
                                 if (out) out->insert(out->end(), hot.begin(), hot.begin() + found);
                                 if (out) out->push_back(static_cast<uint32_t>(ran(k.count)(src, in, n)));
                             });
                         }});
    }
    // Runs of 64 pixels kept within the cell of each run's first pixel, so
    // that whole runs are decided from the cells' marks.
    const auto inst = recordFor(DisplayMode::HotPixel);
    cases.push_back({"hot.decide.cells", [inst](SimdLevel level, const CheckRows& rows, Out* out) {
                         HotRowSource src;
                         const HotPixelKernels& k = hotPixelKernels(*inst, level, src);
                         std::vector<int32_t> hot(static_cast<size_t>(rows.w));
                         Out local(static_cast<size_t>(rows.w));
                         constexpr int32_t kRun = 64;
                         constexpr uint32_t kWithinCell =
                             0xFF0F0F0F;  // top byte and low four bits of each channel
                         eachRow(rows, out, [&](const uint32_t* in, uint32_t* o, int32_t n) {
                             for (int32_t x = 0; x < n; ++x)
                                 local[x] = (in[x] & kWithinCell) | (in[x - x % kRun] & ~kWithinCell);
                             const int32_t found = ran(k.decide)(src, local.data(), o, n, hot.data());
                             if (out) out->insert(out->end(), hot.begin(), hot.begin() + found);
                             if (out)
                                 out->push_back(static_cast<uint32_t>(ran(k.count)(src, local.data(), n)));
                         });
                     }});
}

}  // namespace

std::vector<KernelCase> filterKernelCases(uint32_t seed) {
    std::vector<KernelCase> cases;
    addVideoCases(cases);
    addWaveformCases(cases);
    addVectorscopeCases(cases);
    addMeasureCases(cases, seed);
    return cases;
}

// The measure tables are reached through records the vector sets are
// chosen for (the runner fails a vector level that resolves to the scalar set).
std::vector<KernelTableView> filterKernelTables() {
    const auto inst = recordFor(DisplayMode::Histograms);
    const auto hotInst = recordFor(DisplayMode::HotPixel);
    return {
        {"video", "VideoRowKernels",
         [](SimdLevel l) {
             const VideoRowKernels& k = videoRowKernels(l);
             return slotsOf<VideoRowKernels>({KIVREL_SLOT(k, mask), KIVREL_SLOT(k, grey)});
         }},
        {"waveform", "WaveformKernels",
         [](SimdLevel l) {
             const WaveformKernels& k = waveformKernels(l);
             return slotsOf<WaveformKernels>({KIVREL_SLOT(k, count), KIVREL_SLOT(k, draw)});
         }},
        {"vectorscope", "VectorscopeRowKernels",
         [](SimdLevel l) {
             const VectorscopeRowKernels& k = vectorscopeRowKernels(l);
             return slotsOf<VectorscopeRowKernels>({KIVREL_SLOT(k, offsets)});
         }},
        {"levels", "LevelWordKernels",
         [inst](SimdLevel l) {
             LevelWordSource src;
             const LevelWordKernels& k = levelWordKernels(*inst, l, src);
             return slotsOf<LevelWordKernels>(
                 {KIVREL_SLOT(k, levels), KIVREL_SLOT(k, levelsAndExtremes), KIVREL_SLOT(k, countPairs)});
         }},
        {"hot", "HotPixelKernels",
         [hotInst](SimdLevel l) {
             HotRowSource src;
             const HotPixelKernels& k = hotPixelKernels(*hotInst, l, src);
             return slotsOf<HotPixelKernels>({KIVREL_SLOT(k, decide), KIVREL_SLOT(k, count)});
         }},
    };
}
