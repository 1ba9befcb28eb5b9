// kivrel_checkasm [--bench] [name-part]: every kernel at every level this
// processor runs against its table's scalar entry on the same rows; with
// --bench, each kernel's time per source pixel at each level, on rows of a
// 1920x1080 frame. Exits 1 if any output differs.
#include "checkasm/checkasm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "support/rng.h"
#include "support/simd_cases.h"

namespace {

// Widths to 70 meet every vector tail and more than one waveform block;
// 4097 a row past every power of two a kernel might chunk by. Heights: one
// row, a pair (the 4:2:0 rows), an odd count, and 1024 rows for counts past
// where a dot's brightness saturates.
struct Shape {
    int32_t w, h;
};
std::vector<Shape> checkShapes() {
    std::vector<Shape> shapes;
    for (int32_t w = 1; w <= 70; ++w)
        for (int32_t h : {1, 2, 3}) shapes.push_back({w, h});
    shapes.push_back({4097, 2});
    shapes.push_back({16, 1024});
    return shapes;
}

constexpr int32_t kPitchPad = 3;  // words past each row: a kernel must not read them as pixels

CheckRows makeRows(TestRng& rng, Shape s) {
    CheckRows rows;
    rows.w = s.w;
    rows.h = s.h;
    rows.pitch = s.w + kPitchPad;
    rows.words.resize(static_cast<size_t>(rows.pitch) * s.h);
    for (uint32_t& word : rows.words) word = rng.next();
    for (int32_t y = 0; y < s.h; ++y) {
        uint32_t* row = rows.words.data() + static_cast<ptrdiff_t>(y) * rows.pitch;
        row[0] = 0;
        row[s.w - 1] = 0xFFFFFFFF;
    }
    return rows;
}

// A tall block of one colour per column: every count of a column on one level.
CheckRows oneLevelColumns(int32_t w, int32_t h) {
    CheckRows rows;
    rows.w = w;
    rows.h = h;
    rows.pitch = w;
    rows.words.resize(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            rows.words[static_cast<size_t>(y) * w + x] = 0x01010101u * (x * 37 & 0xFF);
    return rows;
}

int check(const std::vector<KernelCase>& cases, const std::vector<SimdLevel>& levels) {
    TestRng rng{20261209};
    std::vector<CheckRows> sets;
    for (const Shape s : checkShapes()) sets.push_back(makeRows(rng, s));
    sets.push_back(oneLevelColumns(24, 1100));
    int failures = 0;
    for (const KernelCase& c : cases) {
        for (const SimdLevel level : levels) {
            bool same = true;
            for (const CheckRows& rows : sets) {
                std::vector<uint32_t> want, got;
                c.run(SimdLevel::Scalar, rows, &want);
                c.run(level, rows, &got);
                if (want != got) {
                    const auto miss = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
                    std::printf("%-32s %-6s FAILED at %dx%d, word %td\n", c.name.c_str(),
                                kSimdLevelNames[static_cast<int>(level)].data(), rows.w, rows.h,
                                miss.first - want.begin());
                    same = false;
                    break;
                }
            }
            if (same)
                std::printf("%-32s %-6s ok\n", c.name.c_str(),
                            kSimdLevelNames[static_cast<int>(level)].data());
            failures += same ? 0 : 1;
        }
    }
    return failures;
}

constexpr Shape kBenchShape = {1920, 1080};
constexpr double kBenchSeconds = 0.3;  // per kernel and level

void bench(const std::vector<KernelCase>& cases, const std::vector<SimdLevel>& levels) {
    TestRng rng{7};
    const CheckRows rows = makeRows(rng, kBenchShape);
    const double pixels = static_cast<double>(rows.w) * rows.h;
    for (const KernelCase& c : cases) {
        std::printf("%-32s", c.name.c_str());
        for (const SimdLevel level : levels) {
            using Clock = std::chrono::steady_clock;
            const auto start = Clock::now();
            int runs = 0;
            std::chrono::duration<double> spent{};
            do {
                c.run(level, rows, nullptr);
                ++runs;
                spent = Clock::now() - start;
            } while (spent.count() < kBenchSeconds);
            std::printf("  %s %6.3f ns/px", kSimdLevelNames[static_cast<int>(level)].data(),
                        spent.count() * 1e9 / (pixels * runs));
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool timed = false;
    std::string part;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bench") == 0)
            timed = true;
        else
            part = argv[i];
    }
    std::vector<KernelCase> cases = filterKernelCases();
    for (KernelCase& c : hostKernelCases()) cases.push_back(std::move(c));
    cases.erase(
        std::remove_if(cases.begin(), cases.end(),
                       [&part](const KernelCase& c) { return c.name.find(part) == std::string::npos; }),
        cases.end());
    std::vector<SimdLevel> levels = vectorLevels();
    levels.insert(levels.begin(),
                  SimdLevel::Scalar);  // the scalar entry against itself: it must be deterministic
    const int failures = check(cases, levels);
    if (timed) bench(cases, levels);
    return failures == 0 ? 0 : 1;
}
