// The store where there is no registry: one registry-export file (see
// store_file.h). Every call reads the whole file; a write rewrites it through
// a temporary file renamed over the old one, so a crash or a full disk leaves
// the old file or the new one, never a torn one. Lines this code does not
// own (other keys, other values, comments) are kept byte for byte.
//
// The registry editor exports UTF-16LE with a byte-order mark, and a file
// made on Windows comes that way. Such a file is worked on as UTF-8 in
// memory and written back in UTF-16LE with its mark, so that both sides can
// still read it; text that is not valid UTF-16 is never rewritten, since a
// lossy rewrite would cost what it holds.
//
// The store keeps one file per platform, so this one holds the whole of it,
// in sections from the bytes up: the file in memory, UTF-16LE, its lines,
// where it lives and how it is written, then the store's own calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "settings/settings_store.h"
#include "settings/store_file.h"
#include "settings/temp_file.h"

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr char kRootKey[] = "HKEY_CURRENT_USER\\";
constexpr char kBom[] = "\xEF\xBB\xBF";   // UTF-8 byte-order mark, as editors on Windows save
constexpr char kUtf16Bom[] = "\xFF\xFE";  // UTF-16LE's, as the registry editor exports
constexpr char kFileName[] = "registry.reg";
constexpr mode_t kFolderMode = 0700;  // the settings are the user's own

// ---- bytes in memory: the whole file, and the file to be written ----------

// Growable, without exceptions: a failed allocation sets `failed`, and a
// failed buffer is never written out.
struct Bytes {
    char* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    bool failed = false;

    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { std::free(data); }

    bool reserve(size_t wanted) {
        if (wanted <= capacity) return true;
        const size_t grown = wanted < 2 * capacity ? 2 * capacity : wanted;
        char* p = static_cast<char*>(std::realloc(data, grown));
        if (p == nullptr) return false;
        data = p;
        capacity = grown;
        return true;
    }
    void append(const char* p, size_t n) {
        if (failed || n == 0) return;
        if (!reserve(size + n)) {
            failed = true;
            return;
        }
        std::memcpy(data + size, p, n);
        size += n;
    }
    void append(const char* s) { append(s, std::strlen(s)); }
    void swap(Bytes& other) {
        std::swap(data, other.data);
        std::swap(size, other.size);
        std::swap(capacity, other.capacity);
        std::swap(failed, other.failed);
    }
};

enum class FileState { Present, Missing, Unreadable };

// The whole of a regular file. A missing file or folder is Missing; anything
// else that stops a full read (no permission, a folder or a pipe in its
// place, an I/O error) is Unreadable, with the reason in `problem`.
FileState readWholeFile(const char* path, Bytes& out, mode_t& mode, int& problem) {
    // Non-blocking, so a pipe in the file's place cannot hang the host.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return FileState::Missing;
        problem = errno;
        return FileState::Unreadable;
    }
    FileState state = FileState::Present;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        problem = errno;
        state = FileState::Unreadable;
    } else if (!S_ISREG(st.st_mode)) {
        problem = S_ISDIR(st.st_mode) ? EISDIR : kStoreNotAFile;
        state = FileState::Unreadable;
    }
    mode = st.st_mode & kPermissionBits;
    constexpr size_t kChunk = 4096;
    while (state == FileState::Present) {
        if (!out.reserve(out.size + kChunk)) {
            problem = ENOMEM;
            state = FileState::Unreadable;
            break;
        }
        const ssize_t n = ::read(fd, out.data + out.size, kChunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno != EINTR) {
                problem = errno;
                state = FileState::Unreadable;
            }
            continue;
        }
        out.size += static_cast<size_t>(n);
    }
    ::close(fd);
    return state;
}

// ---- UTF-16LE files ---------------------------------------------------------

constexpr uint32_t kHighSurrogate = 0xD800, kLowSurrogate = 0xDC00, kSurrogateEnd = 0xE000;
constexpr uint32_t kSurrogateBits = 10, kFirstPairPoint = 0x10000, kLastPoint = 0x10FFFF;

void appendUtf8(Bytes& out, uint32_t point) {
    char b[4];
    size_t n;
    if (point < 0x80) {
        b[0] = static_cast<char>(point);
        n = 1;
    } else if (point < 0x800) {
        b[0] = static_cast<char>(0xC0 | point >> 6);
        b[1] = static_cast<char>(0x80 | (point & 0x3F));
        n = 2;
    } else if (point < kFirstPairPoint) {
        b[0] = static_cast<char>(0xE0 | point >> 12);
        b[1] = static_cast<char>(0x80 | (point >> 6 & 0x3F));
        b[2] = static_cast<char>(0x80 | (point & 0x3F));
        n = 3;
    } else {
        b[0] = static_cast<char>(0xF0 | point >> 18);
        b[1] = static_cast<char>(0x80 | (point >> 12 & 0x3F));
        b[2] = static_cast<char>(0x80 | (point >> 6 & 0x3F));
        b[3] = static_cast<char>(0x80 | (point & 0x3F));
        n = 4;
    }
    out.append(b, n);
}

void appendUnit(Bytes& out, uint32_t unit) {
    const char b[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    out.append(b, 2);
}

// UTF-16LE (after its mark) as UTF-8; false on an odd byte or a surrogate
// without its partner, which no encoder writes.
bool utf16ToUtf8(const char* data, size_t size, Bytes& out) {
    if (size % 2 != 0) return false;
    const auto unitAt = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(data[i]) |
                                     static_cast<unsigned char>(data[i + 1]) << 8);
    };
    for (size_t i = 0; i < size; i += 2) {
        uint32_t point = unitAt(i);
        if (point >= kLowSurrogate && point < kSurrogateEnd) return false;
        if (point >= kHighSurrogate && point < kLowSurrogate) {
            if (i + 2 >= size) return false;
            const uint32_t low = unitAt(i + 2);
            if (low < kLowSurrogate || low >= kSurrogateEnd) return false;
            point = kFirstPairPoint + ((point - kHighSurrogate) << kSurrogateBits) + (low - kLowSurrogate);
            i += 2;
        }
        appendUtf8(out, point);
    }
    return !out.failed;
}

// Strict UTF-8 (no overlong forms, no surrogates) as UTF-16LE; false on
// anything else, which UTF-16 cannot hold.
bool utf8ToUtf16(const Bytes& text, Bytes& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data);
    const unsigned char* end = p + text.size;
    while (p < end) {
        const unsigned lead = *p++;
        size_t more;
        uint32_t point, lowest;
        if (lead < 0x80) {
            more = 0, point = lead, lowest = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            more = 1, point = lead & 0x1F, lowest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            more = 2, point = lead & 0x0F, lowest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            more = 3, point = lead & 0x07, lowest = kFirstPairPoint;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < more) return false;
        for (; more > 0; --more, ++p) {
            if ((*p & 0xC0) != 0x80) return false;
            point = point << 6 | (*p & 0x3F);
        }
        if (point < lowest || point > kLastPoint || (point >= kHighSurrogate && point < kSurrogateEnd))
            return false;
        if (point < kFirstPairPoint) {
            appendUnit(out, point);
        } else {
            point -= kFirstPairPoint;
            appendUnit(out, kHighSurrogate + (point >> kSurrogateBits));
            appendUnit(out, kLowSurrogate + (point & ((1u << kSurrogateBits) - 1)));
        }
    }
    return !out.failed;
}

// The file's text, in UTF-8 or the bytes as they are, and how it was kept.
struct StoreText {
    Bytes text;
    bool utf16 = false;
};

FileState readStore(const char* path, StoreText& store, mode_t& mode, int& problem) {
    const FileState state = readWholeFile(path, store.text, mode, problem);
    const Bytes& raw = store.text;
    const size_t mark = sizeof kUtf16Bom - 1;
    store.utf16 =
        state == FileState::Present && raw.size >= mark && std::memcmp(raw.data, kUtf16Bom, mark) == 0;
    if (!store.utf16) return state;
    Bytes text;
    if (!utf16ToUtf8(raw.data + mark, raw.size - mark, text)) {
        problem = text.failed ? ENOMEM : kStoreBadUtf16;
        return FileState::Unreadable;
    }
    store.text.swap(text);
    return state;
}

// ---- lines ------------------------------------------------------------------

struct Line {
    size_t start;  // offset in the file
    size_t next;   // offset of the following line
    const char* text;
    size_t length;  // without the line end (LF or CRLF)
};

bool nextLine(const Bytes& file, size_t& pos, Line& line) {
    if (pos >= file.size) return false;
    line.start = pos;
    line.text = file.data + pos;
    const void* lf = std::memchr(line.text, '\n', file.size - pos);
    const size_t end =
        lf != nullptr ? static_cast<size_t>(static_cast<const char*>(lf) - file.data) : file.size;
    line.length = end - pos;
    if (line.length > 0 && line.text[line.length - 1] == '\r') --line.length;
    pos = lf != nullptr ? end + 1 : end;
    line.next = pos;
    return true;
}

size_t afterBom(const Bytes& file) {
    const size_t n = sizeof kBom - 1;
    return file.size >= n && std::memcmp(file.data, kBom, n) == 0 ? n : 0;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

size_t trimmedLength(const Line& line) {
    size_t n = line.length;
    while (n > 0 && isBlank(line.text[n - 1])) --n;
    return n;
}

bool isBlankLine(const Line& line) { return trimmedLength(line) == 0; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Key and value names compare as the registry compares them: ignoring case.
bool sameName(const char* a, size_t n, const char* b) {
    for (size_t i = 0; i < n; ++i, ++b)
        if (*b == '\0' || lower(a[i]) != lower(*b)) return false;
    return *b == '\0';
}

enum class LineKind { Other, Section, OurSection };

// "[HKEY_CURRENT_USER\<subkey>]", trailing blanks allowed.
LineKind classify(const Line& line, const char* subkey) {
    const size_t n = trimmedLength(line);
    if (n < 2 || line.text[0] != '[' || line.text[n - 1] != ']') return LineKind::Other;
    const char* name = line.text + 1;
    const size_t nameLength = n - 2;
    const size_t rootLength = sizeof kRootKey - 1;
    const bool ours = nameLength >= rootLength && sameName(name, rootLength, kRootKey) &&
                      sameName(name + rootLength, nameLength - rootLength, subkey);
    return ours ? LineKind::OurSection : LineKind::Section;
}

// A quoted string at `p` with \\ and \" escapes. Calls `put` with each
// character of its contents; returns the position after the closing quote,
// or nullptr when the string is malformed.
template <typename Put>
const char* readQuoted(const char* p, const char* end, Put put) {
    if (p >= end || *p != '"') return nullptr;
    for (++p; p < end; ++p) {
        if (*p == '"') return p + 1;
        if (*p == '\\') {
            if (++p >= end || (*p != '\\' && *p != '"')) return nullptr;
        }
        put(*p);
    }
    return nullptr;
}

// The part after `"NAME"=` when the line names the value, else nullptr.
const char* valueOf(const Line& line, const char* valueName) {
    const char* end = line.text + line.length;
    const char* want = valueName;
    bool matches = true;
    const char* p = readQuoted(line.text, end, [&](char c) {
        if (matches && *want != '\0' && lower(c) == lower(*want))
            ++want;
        else
            matches = false;
    });
    if (p == nullptr || !matches || *want != '\0' || p >= end || *p != '=') return nullptr;
    return p + 1;
}

// A value's entry is its line plus, for the binary forms, the lines its
// trailing backslash continues onto. Returns the offset after the entry.
size_t entryEnd(const Bytes& file, const Line& first, const char* value) {
    size_t pos = first.next;
    if (value < first.text + first.length && *value == '"') return pos;  // a string never continues
    Line line = first;
    while (trimmedLength(line) > 0 && line.text[trimmedLength(line) - 1] == '\\' &&
           nextLine(file, pos, line)) {
    }
    return pos;
}

// ---- where the file lives, and writing it ------------------------------------

bool join(StorePath& out, const char* folder, const char* below) {
    const int n = std::snprintf(out.text, sizeof out.text, "%s%s%s", folder, below, kFileName);
    return n >= 0 && n < static_cast<int>(sizeof out.text);
}

// Creates the folder and its parents; true when it exists afterwards.
bool makeFolders(const char* folder) {
    char path[kStorePathSize];
    const int n = std::snprintf(path, sizeof path, "%s", folder);
    if (n < 0 || n >= static_cast<int>(sizeof path)) return false;
    for (char* p = path + 1; *p != '\0'; ++p) {
        if (*p != '/') continue;
        *p = '\0';
        if (::mkdir(path, kFolderMode) != 0 && errno != EEXIST) return false;
        *p = '/';
    }
    if (::mkdir(path, kFolderMode) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

constexpr char kTempPrefix[] = ".kivrel-", kTempSuffix[] = ".tmp";

// The pid in a temporary file's name (".kivrel-PID-N.tmp"), or 0 when the
// name is not one of ours.
long tempNameOwner(const char* name) {
    const size_t prefix = sizeof kTempPrefix - 1;
    if (std::strncmp(name, kTempPrefix, prefix) != 0) return 0;
    const char* p = name + prefix;
    long pid = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9' && p - digits < 10; ++p) pid = pid * 10 + (*p - '0');
    if (p == digits || *p++ != '-') return 0;
    const char* serial = p;
    while (*p >= '0' && *p <= '9') ++p;
    return p > serial && std::strcmp(p, kTempSuffix) == 0 ? pid : 0;
}

bool writeAll(int fd, const Bytes& content) {
    for (size_t done = 0; done < content.size;) {
        const ssize_t n = ::write(fd, content.data + done, content.size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Temporary file in the same folder, written and flushed, then renamed over
// the target. A failure anywhere, the rename's included, removes the
// temporary file and leaves the target as it was. Returns why it failed, 0
// when it did not.
int replaceFile(const char* target, const Bytes& content, bool keepMode, mode_t mode) {
    char folder[kStorePathSize];
    std::snprintf(folder, sizeof folder, "%s", target);
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr)
        std::strcpy(folder, ".");
    else if (slash == folder)
        folder[1] = '\0';
    else
        *slash = '\0';
    errno = 0;
    // A file in the way of a folder shows as EEXIST from mkdir; say what it means.
    if (!makeFolders(folder)) return errno != 0 && errno != EEXIST ? errno : ENOTDIR;
    // A save killed part way (SIGKILL, a power cut) cannot remove its
    // temporary file; the next save beside it does.
    removeDeadTemporaries(folder, tempNameOwner);

    static std::atomic<unsigned> serial{0};
    char temp[kStorePathSize];
    const auto nextName = [&]() -> const char* {
        const int n = std::snprintf(temp, sizeof temp, "%s/%s%ld-%u%s", folder, kTempPrefix,
                                    static_cast<long>(::getpid()), serial.fetch_add(1), kTempSuffix);
        return n >= 0 && n < static_cast<int>(sizeof temp) ? temp : nullptr;
    };
    int fd = -1;
    if (const int made = createTemporary(
            nextName, [](const char*) {}, fd);
        made != 0)
        return made;
    // The first failure is the one to tell; later calls only clean up.
    int problem = 0;
    const auto note = [&problem](bool ok) {
        if (!ok && problem == 0) problem = errno != 0 ? errno : EIO;
        return ok;
    };
    errno = 0;
    bool ok = note(!keepMode || ::fchmod(fd, mode) == 0);
    ok = ok && note(writeAll(fd, content)) && note(::fsync(fd) == 0);
    ok = note(::close(fd) == 0) && ok;
    if (!ok || !note(::rename(temp, target) == 0)) {
        ::unlink(temp);
        return problem;
    }
    // The rename itself is durable only once the folder is flushed.
    const int dir = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

void appendQuoted(Bytes& out, const char* s) {
    out.append("\"");
    for (; *s != '\0'; ++s) {
        if (*s == '\\' || *s == '"') out.append("\\");
        out.append(s, 1);
    }
    out.append("\"");
}

void appendSection(Bytes& out, const char* subkey, const char* eol) {
    out.append("[");
    out.append(kRootKey);
    out.append(subkey);
    out.append("]");
    out.append(eol);
}

// The old file with the value set: its first entry in the key replaced in
// place and later ones dropped (the registry holds one value per name), or a
// new entry after the last line of the key's first block; a key the file
// lacks is added at its end, and an empty file gets the header first.
void buildFile(const Bytes& old, const char* subkey, const char* valueName, const char* text, Bytes& out) {
    Bytes entry;
    appendQuoted(entry, valueName);
    entry.append("=");
    const size_t nameLength = entry.size;
    appendQuoted(entry, text);
    if (entry.failed) {
        out.failed = true;
        return;
    }

    // Lines added take the file's own line ends; a new file gets the
    // registry editor's.
    const char* lf = old.size > 0 ? static_cast<const char*>(std::memchr(old.data, '\n', old.size)) : nullptr;
    const char* eol = lf == nullptr || (lf > old.data && lf[-1] == '\r') ? "\r\n" : "\n";
    const size_t bom = afterBom(old);

    // First pass: is the value there, and where does a new entry go?
    bool found = false, haveSection = false, firstBlockDone = false, hasContent = false, endsBlank = false;
    size_t insertAt = 0;
    LineKind section = LineKind::Other;
    size_t pos = bom;
    Line line{};
    while (nextLine(old, pos, line)) {
        endsBlank = isBlankLine(line);
        if (endsBlank) continue;
        hasContent = true;
        const LineKind kind = classify(line, subkey);
        if (kind != LineKind::Other) {
            firstBlockDone = firstBlockDone || haveSection;
            section = kind;
            if (kind == LineKind::OurSection && !haveSection) {
                haveSection = true;
                insertAt = line.next;
            }
            continue;
        }
        if (section != LineKind::OurSection) continue;
        if (valueOf(line, valueName) != nullptr) found = true;
        if (!firstBlockDone) insertAt = line.next;
    }

    out.append(old.data, bom);
    if (!hasContent) {
        out.append(kHeader);
        out.append(eol);
        out.append(eol);
        appendSection(out, subkey, eol);
        out.append(entry.data, entry.size);
        out.append(eol);
        return;
    }

    // Second pass: copy, replacing or inserting the entry.
    bool written = false;
    section = LineKind::Other;
    pos = bom;
    while (nextLine(old, pos, line)) {
        if (haveSection && !found && line.start == insertAt) {
            out.append(entry.data, entry.size);
            out.append(eol);
        }
        const LineKind kind = classify(line, subkey);
        if (kind != LineKind::Other) section = kind;
        const char* value =
            section == LineKind::OurSection && kind == LineKind::Other ? valueOf(line, valueName) : nullptr;
        if (value == nullptr) {
            out.append(line.text, line.next - line.start);
            continue;
        }
        if (!written) {
            // The name keeps its spelling, as the registry keeps a value's.
            out.append(line.text, static_cast<size_t>(value - line.text));
            out.append(entry.data + nameLength, entry.size - nameLength);
            out.append(eol);
            written = true;
        }
        pos = entryEnd(old, line, value);
    }
    const bool endsWithLineEnd = old.data[old.size - 1] == '\n';
    if (haveSection && !found && insertAt >= old.size) {
        if (!endsWithLineEnd) out.append(eol);
        out.append(entry.data, entry.size);
        out.append(eol);
    }
    if (!haveSection) {
        if (!endsWithLineEnd) out.append(eol);
        if (!endsBlank) out.append(eol);
        appendSection(out, subkey, eol);
        out.append(entry.data, entry.size);
        out.append(eol);
    }
}

thread_local int lastWriteProblem = 0;

RegistryText absentText() {
    RegistryText t{};
    std::strcpy(t.text, kAbsentText);
    return t;
}

}  // namespace

StorePath settingsStorePath() {
    StorePath path{};
    const char* own = std::getenv("KIVREL_REGISTRY");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    bool ok = false;
    if (own != nullptr && *own != '\0')
        ok = std::snprintf(path.text, sizeof path.text, "%s", own) < static_cast<int>(sizeof path.text);
    else if (config != nullptr && config[0] == '/')  // a relative one is invalid by the XDG rules
        ok = join(path, config, "/kivrel/");
    else if (home != nullptr && *home != '\0')
        ok = join(path, home, "/.config/kivrel/");
    if (!ok) path.text[0] = '\0';
    return path;
}

RegistryText readRegistryText(const char* subkey, const char* valueName) {
    const StorePath path = settingsStorePath();
    if (path.text[0] == '\0') return absentText();
    StoreText store;
    mode_t mode = 0;
    int problem = 0;
    if (readStore(path.text, store, mode, problem) != FileState::Present) return absentText();
    const Bytes& file = store.text;

    // The last well-formed entry wins, as when the file is imported.
    RegistryText result = absentText();
    bool inSection = false;
    size_t pos = afterBom(file);
    Line line{};
    while (nextLine(file, pos, line)) {
        const LineKind kind = classify(line, subkey);
        if (kind != LineKind::Other) {
            inSection = kind == LineKind::OurSection;
            continue;
        }
        const char* value = inSection ? valueOf(line, valueName) : nullptr;
        if (value == nullptr) continue;
        RegistryText t{};
        int length = 0;
        const char* end = line.text + trimmedLength(line);
        const char* after = readQuoted(value, end, [&](char c) {
            if (length <= kRegistryTextLongest) t.text[length] = c;
            ++length;
        });
        if (after != end) continue;  // not a string, or something after it
        if (length > kRegistryTextLongest) {
            result = absentText();
            continue;
        }
        t.text[length] = '\0';
        result = t;
    }
    return result;
}

namespace {

int writeStoreText(const char* subkey, const char* valueName, const char* text) {
    // A line break cannot be written inside a value's line.
    if (std::strpbrk(text, "\r\n") != nullptr || std::strpbrk(valueName, "\r\n") != nullptr) return EINVAL;
    const StorePath path = settingsStorePath();
    if (path.text[0] == '\0') return kStoreNoPath;

    // A link to the file (a shared dotfiles folder) stays a link: the file
    // it names is the one replaced.
    char target[kStorePathSize];
    std::snprintf(target, sizeof target, "%s", path.text);
    struct stat st {};
    if (::lstat(path.text, &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.text, resolved) == nullptr) return errno;
        std::snprintf(target, sizeof target, "%s", resolved);
    }

    StoreText old;
    mode_t mode = 0;
    int problem = 0;
    const FileState state = readStore(target, old, mode, problem);
    if (state == FileState::Unreadable) return problem;  // rewriting it would lose what it holds
    Bytes content;
    buildFile(old.text, subkey, valueName, text, content);
    if (content.failed) return ENOMEM;
    if (!old.utf16) return replaceFile(target, content, state == FileState::Present, mode);
    Bytes encoded;
    encoded.append(kUtf16Bom);
    if (!utf8ToUtf16(content, encoded)) return encoded.failed ? ENOMEM : kStoreNotUtf8;
    return replaceFile(target, encoded, true, mode);
}

}  // namespace

bool writeRegistryText(const char* subkey, const char* valueName, const char* text) {
    const int problem = writeStoreText(subkey, valueName, text);
    if (problem != 0) lastWriteProblem = problem;
    return problem == 0;
}

int lastStoreWriteProblem() { return lastWriteProblem; }

int settingsStoreProblem() {
    const StorePath path = settingsStorePath();
    if (path.text[0] == '\0') return 0;
    StoreText store;
    mode_t mode = 0;
    int problem = 0;
    return readStore(path.text, store, mode, problem) == FileState::Unreadable ? problem : 0;
}

const char* storeProblemText(int problem) {
    switch (problem) {
    case 0: return "no problem";
    case kStoreNotAFile: return "not a regular file";
    case kStoreBadUtf16: return "marked as UTF-16 but not valid UTF-16";
    case kStoreNotUtf8: return "the value is not UTF-8 text, which a UTF-16 file cannot hold";
    case kStoreNoPath: return "none of KIVREL_REGISTRY, XDG_CONFIG_HOME and HOME names a place for it";
    default: return std::strerror(problem);
    }
}
