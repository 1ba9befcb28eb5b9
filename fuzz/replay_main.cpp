// Where no fuzzing engine is at hand, a target runs as a plain test over
// its saved corpus: every file (or every file in every folder) named on the
// command line is one input.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // As the engine does, an empty input still comes at an address.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (const auto& entry : std::filesystem::directory_iterator(p))
                if (entry.is_regular_file()) ok = replay(entry.path()) && ok, ++inputs;
        } else {
            ok = replay(p) && ok, ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return ok && inputs > 0 ? 0 : 1;
}
