// kivrel_checkasm [--bench] [--seed N] [name-part]: every kernel at every
// level this processor runs against its table's scalar entry on the same
// rows; with --bench, each kernel's time per source pixel at each level, on
// rows of a 1920x1080 frame. The rows and records are drawn from a seed new
// each run (KIVREL_CHECKASM_SEED or --seed N repeats one), printed first.
// Exits 1 if any output differs, if a case at a level reached none of that
// level's kernels or another level's, or (with no name-part) if a kernel of
// some table at some level is reached by no case.
#include "checkasm/checkasm.h"
#include "kernel_tables.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

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

// The kernels the running case has called: ran() notes them here.
std::vector<KernelFn>* gRun = nullptr;

bool holds(const std::vector<KernelFn>& kernels, KernelFn k) {
    return std::find(kernels.begin(), kernels.end(), k) != kernels.end();
}

// Every table's kernels at `level`, by name.
struct LevelKernels {
    std::vector<std::string> names;
    std::vector<KernelFn> kernels;
};
LevelKernels kernelsAt(const std::vector<KernelTableView>& tables, SimdLevel level) {
    LevelKernels at;
    for (const KernelTableView& t : tables)
        for (const KernelSlot& slot : t.setAt(level)) {
            at.names.push_back(t.name + "." + slot.name);
            at.kernels.push_back(slot.kernel);
        }
    return at;
}

const char* nameOf(SimdLevel level) { return kSimdLevelNames[static_cast<int>(level)].data(); }

// What the case's run at `level` reached, when not only that level's
// kernels: a record the vector sets are not chosen for (stale tables) runs
// the scalar set at every level, which is then told rather than called ok.
std::string strayKernels(const std::vector<KernelFn>& reached, const LevelKernels& own,
                         const LevelKernels& scalar) {
    if (reached.empty()) return "FAILED: reached no kernel";
    const auto within = [&reached](const LevelKernels& set) {
        return std::all_of(reached.begin(), reached.end(),
                           [&set](KernelFn k) { return holds(set.kernels, k); });
    };
    if (within(own)) return "";
    if (within(scalar)) return "scalar set (this record takes it at every level)";
    return "FAILED: reached a kernel of another level";
}

int check(const std::vector<KernelCase>& cases, const std::vector<KernelTableView>& tables,
          const std::vector<SimdLevel>& levels, uint32_t seed, bool audit) {
    TestRng rng{seed};
    std::vector<CheckRows> sets;
    for (const Shape s : checkShapes()) sets.push_back(makeRows(rng, s));
    sets.push_back(oneLevelColumns(24, 1100));
    int failures = 0;
    const LevelKernels scalar = kernelsAt(tables, SimdLevel::Scalar);
    for (const SimdLevel level : levels) {
        const LevelKernels own = kernelsAt(tables, level);
        for (const KernelTableView& t : tables) {
            if (level == SimdLevel::Scalar ||
                t.setAt(level)[0].kernel != t.setAt(SimdLevel::Scalar)[0].kernel)
                continue;
            std::printf("%-32s %-6s FAILED: the table gives the scalar set here\n", t.name.c_str(),
                        nameOf(level));
            ++failures;
        }
        std::vector<KernelFn> reachedAtLevel;
        for (const KernelCase& c : cases) {
            std::vector<KernelFn> reached;
            std::string verdict;
            for (const CheckRows& rows : sets) {
                std::vector<uint32_t> want, got;
                gRun = nullptr;
                c.run(SimdLevel::Scalar, rows, &want);
                gRun = &reached;
                c.run(level, rows, &got);
                gRun = nullptr;
                if (want != got) {
                    const auto miss = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
                    char where[96];
                    std::snprintf(where, sizeof where, "FAILED at %dx%d, word %td", rows.w, rows.h,
                                  miss.first - want.begin());
                    verdict = where;
                    break;
                }
            }
            const bool differs = !verdict.empty();
            if (!differs) verdict = strayKernels(reached, own, scalar);
            std::printf("%-32s %-6s %s\n", c.name.c_str(), nameOf(level),
                        verdict.empty() ? "ok" : verdict.c_str());
            failures += differs || verdict.rfind("FAILED", 0) == 0 ? 1 : 0;
            reachedAtLevel.insert(reachedAtLevel.end(), reached.begin(), reached.end());
        }
        if (!audit) continue;
        for (size_t i = 0; i < own.kernels.size(); ++i) {
            if (holds(reachedAtLevel, own.kernels[i])) continue;
            std::printf("%-32s %-6s FAILED: no case checks this kernel\n", own.names[i].c_str(),
                        nameOf(level));
            ++failures;
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

// A seed as --seed or KIVREL_CHECKASM_SEED gives it: a non-zero 32-bit number.
bool parseSeed(const char* text, uint32_t& seed) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (end == text || *end != '\0' || v == 0 || v > UINT32_MAX) return false;
    seed = static_cast<uint32_t>(v);
    return true;
}

uint32_t freshSeed() {
    uint32_t seed = 0;
    while (seed == 0) seed = std::random_device{}();
    return seed;
}

}  // namespace

void noteKernelRun(KernelFn kernel) {
    if (gRun != nullptr && !holds(*gRun, kernel)) gRun->push_back(kernel);
}

int main(int argc, char** argv) {
    bool timed = false, seeded = false;
    uint32_t seed = 0;
    std::string part;
    if (const char* env = std::getenv("KIVREL_CHECKASM_SEED"); env != nullptr && *env != '\0') {
        if (!parseSeed(env, seed)) {
            std::fprintf(stderr, "KIVREL_CHECKASM_SEED=%s: not a non-zero 32-bit number\n", env);
            return 2;
        }
        seeded = true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bench") == 0) {
            timed = true;
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            if (i + 1 >= argc || !parseSeed(argv[i + 1], seed)) {
                std::fprintf(stderr, "--seed needs a non-zero 32-bit number\n");
                return 2;
            }
            seeded = true;
            ++i;
        } else {
            part = argv[i];
        }
    }
    if (!seeded) seed = freshSeed();
    std::printf("checkasm seed %u (rerun with: kivrel_checkasm --seed %u, or KIVREL_CHECKASM_SEED=%u)\n",
                seed, seed, seed);
    std::fflush(stdout);
    TestRng seeds{seed};
    std::vector<KernelCase> cases = filterKernelCases(seeds.next());
    for (KernelCase& c : cliKernelCases(seeds.next())) cases.push_back(std::move(c));
    std::vector<KernelTableView> tables = filterKernelTables();
    for (KernelTableView& t : hostKernelTables()) tables.push_back(std::move(t));
    const uint32_t rowSeed = seeds.next();
    cases.erase(
        std::remove_if(cases.begin(), cases.end(),
                       [&part](const KernelCase& c) { return c.name.find(part) == std::string::npos; }),
        cases.end());
    std::vector<SimdLevel> levels = vectorLevels();
    levels.insert(levels.begin(),
                  SimdLevel::Scalar);  // the scalar entry against itself: it must be deterministic
    // Only the whole set of cases must reach every kernel.
    const bool audit = part.empty();
    int failures = check(cases, tables, levels, rowSeed, audit);
    for (const char* kernels : {KIVREL_SOURCE_KERNEL_TABLES}) {
        if (std::any_of(tables.begin(), tables.end(),
                        [kernels](const KernelTableView& t) { return t.kernels == kernels; }))
            continue;
        std::printf("%-32s FAILED: a table of the sources no case audits\n", kernels);
        ++failures;
    }
    if (!audit) std::printf("cases chosen by name: not every kernel's check was asked for\n");
    if (failures != 0)
        std::printf("%d FAILED; rerun with: kivrel_checkasm --seed %u%s%s\n", failures, seed,
                    part.empty() ? "" : " ", part.c_str());
    if (timed) bench(cases, levels);
    return failures == 0 ? 0 : 1;
}
