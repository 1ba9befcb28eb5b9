#include "input/file_end.h"

#include <cstdio>

namespace {

// The index is found through the file's last 12 bytes: an offset back from
// the end (8 bytes, big-endian) to its startcode, then a checksum.
constexpr uint64_t kNutIndexStartcode = 0x4E58DD672F23E64EULL;  // 'N', 'X', then six bytes of its own
constexpr int kNutIndexPointerFromEnd = 12;
constexpr int kStartcodeBytes = 8;

uint64_t bigEndian64(const unsigned char* b) {
    uint64_t v = 0;
    for (int i = 0; i < kStartcodeBytes; ++i) v = v << 8 | b[i];
    return v;
}

}  // namespace

bool nutEndsWithIndex(const std::string& path, int64_t size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return true;  // nothing to tell by
    unsigned char b[kStartcodeBytes] = {};
    bool found = size >= kNutIndexPointerFromEnd &&
                 std::fseek(f, size - kNutIndexPointerFromEnd, SEEK_SET) == 0 &&
                 std::fread(b, 1, sizeof b, f) == sizeof b;
    const uint64_t back = found ? bigEndian64(b) : 0;
    found = found && back >= kStartcodeBytes && back <= static_cast<uint64_t>(size) &&
            std::fseek(f, size - static_cast<int64_t>(back), SEEK_SET) == 0 &&
            std::fread(b, 1, sizeof b, f) == sizeof b && bigEndian64(b) == kNutIndexStartcode;
    std::fclose(f);
    return found;
}
