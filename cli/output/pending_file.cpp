#include "output/pending_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "os/signals.h"
#include "settings/temp_file.h"

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel's own limit on a path's links
constexpr const char* kStdoutDevice = "/dev/stdout";
constexpr const char* kStdoutAvio = "pipe:1";
// A temporary name holds kTempTag + pid + "-" + serial (see tempName()).
constexpr const char* kTempTag = ".kivrel-";

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The file a name stands for once its symbolic links are followed; the name
// itself when it is no link. A link to nothing gives where it points.
Status followLinks(const std::string& target, std::string& resolved) {
    resolved = target;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
        char link[PATH_MAX];
        const ssize_t n = ::readlink(resolved.c_str(), link, sizeof link - 1);
        if (n < 0) return Status::fail("cannot follow the link " + target + ": " + std::strerror(errno));
        link[n] = 0;
        resolved = link[0] == '/' ? std::string(link) : folderOf(resolved) + link;
    }
    return Status::fail(target + ": too many levels of symbolic links");
}

bool sameFile(const struct stat& st, const WriterSettings& settings) {
    return settings.source && st.st_dev == settings.source->dev && st.st_ino == settings.source->ino;
}

// What is at `resolved`: nothing, a file to replace, or something to write directly.
enum class Found { Nothing, File, Stream };

Status examine(const std::string& target, const std::string& resolved, const WriterSettings& settings,
               Found& found, mode_t& mode) {
    found = Found::Nothing;
    struct stat st {};
    if (::stat(resolved.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            struct stat link {};
            // A link to nothing is still a name taken.
            if (!settings.overwrite && ::lstat(target.c_str(), &link) == 0)
                return Status::fail(existsMessage(target));
            return {};
        }
        return Status::fail("cannot write " + target + ": " + std::strerror(errno));
    }
    if (sameFile(st, settings))
        return Status::fail(target + " is the input file; kivrel never writes over its input");
    if (S_ISDIR(st.st_mode))
        return Status::fail(target + " is a folder; name a file in it (" + target +
                            (target.ends_with('/') ? "" : "/") + "name.png)");
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        found = Found::Stream;
        return {};
    }
    if (!settings.overwrite) return Status::fail(existsMessage(target));
    found = Found::File;
    mode = st.st_mode & kPermissionBits;
    return {};
}

// The pid in a temporary name of ours, or 0 when `name` is none.
long tempNameOwner(const char* name) {
    const char* tag = name[0] == '.' ? std::strstr(name + 1, kTempTag) : nullptr;
    if (tag == nullptr) return 0;
    for (const char* later; (later = std::strstr(tag + 1, kTempTag)) != nullptr;) tag = later;
    char* end = nullptr;
    const long pid = std::strtol(tag + std::strlen(kTempTag), &end, 10);
    if (pid <= 0 || *end != '-' || end[1] == '\0') return 0;
    for (const char* d = end + 1; *d != '\0'; ++d)
        if (*d < '0' || *d > '9') return 0;
    return static_cast<pid_t>(pid);
}

// A run killed with SIGKILL (or by a power cut) cannot remove its temporary
// files: the next run writing into the same folder does, once per folder and run.
void sweepFolderOnce(const std::string& dir) {
    static std::set<std::string> swept;
    if (swept.insert(dir).second) removeDeadTemporaries(dir.c_str(), tempNameOwner);
}

// The longest name a file in `dir` may have: a temporary name must fit
// wherever the target's own does.
size_t longestName(const std::string& dir) {
    const long max = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    return max > 0 ? static_cast<size_t>(max) : NAME_MAX;
}

// "." + the target's name + kTempTag + pid + "-" + serial, the target's
// name cut short where the whole would pass `nameMax` (the tag alone marks
// the file as ours).
std::string tempName(const std::string& base, int serial, size_t nameMax) {
    const std::string tail = kTempTag + std::to_string(::getpid()) + "-" + std::to_string(serial);
    const size_t room = nameMax > tail.size() + 1 ? nameMax - tail.size() - 1 : 0;
    return "." + base.substr(0, room) + tail;
}

// The data on the disk before the rename makes it the target, so a power
// cut leaves the old file or the whole new one, never an empty one.
Status flushToDisk(const std::string& path, const std::string& target) {
    // Read-only is enough for fsync, and works when the file kept a read-only mode.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        return Status::fail("cannot write " + target + ": " + std::strerror(err));
    }
    ::close(fd);
    return {};
}

}  // namespace

std::string existsMessage(const std::string& path) { return path + " exists; use -y to replace it"; }

Status checkOutputName(const std::string& target, const WriterSettings& settings) {
    std::string resolved;
    if (Status s = followLinks(target, resolved); !s.ok()) return s;
    Found found = Found::Nothing;
    mode_t mode = 0;
    return examine(target, resolved, settings, found, mode);
}

PendingFile::~PendingFile() {
    if (temp_.empty() || direct_) return;
    ::unlink(temp_.c_str());
    unregisterTempFile(temp_);
}

std::string PendingFile::avioPath() const {
    if (target_ == kStdoutName) return kStdoutAvio;
    return "file:" + temp_;
}

Status PendingFile::create(const std::string& target, const WriterSettings& settings) {
    target_ = target;
    overwrite_ = settings.overwrite;
    if (target == kStdoutName) {
        direct_ = true;
        temp_ = kStdoutDevice;
        return {};
    }
    if (Status s = followLinks(target, resolved_); !s.ok()) return s;
    Found found = Found::Nothing;
    mode_t mode = 0;
    if (Status s = examine(target, resolved_, settings, found, mode); !s.ok()) return s;
    if (found == Found::Stream) {
        direct_ = true;
        temp_ = resolved_;
        return {};
    }
    const std::string dir = folderOf(resolved_);
    const std::string base = resolved_.substr(dir.size());
    sweepFolderOnce(dir);
    static int counter = 0;
    const size_t nameMax = longestName(dir);
    std::string name;
    const auto nextName = [&] {
        name = dir + tempName(base, counter++, nameMax);
        registerTempFile(name);  // before it exists, so no crash can miss it
        return name.c_str();
    };
    int fd = -1;
    const int made = createTemporary(
        nextName, [](const char* dropped) { unregisterTempFile(dropped); }, fd);
    if (made == EEXIST) return Status::fail("cannot write " + target + ": no free temporary name beside it");
    if (made != 0) return Status::fail("cannot write " + target + ": " + std::strerror(made));
    // A replaced file keeps its permissions.
    const bool kept = found != Found::File || ::fchmod(fd, mode) == 0;
    const int err = errno;
    ::close(fd);
    temp_ = name;
    replaces_ = found == Found::File;
    if (!kept) return Status::fail("cannot keep the permissions of " + target + ": " + std::strerror(err));
    return {};
}

Status PendingFile::commit(bool flushed) {
    if (direct_ || temp_.empty()) return {};
    if (!flushed)
        if (Status s = flushToDisk(temp_, target_); !s.ok()) return s;
    int r = 0;
    if (overwrite_) {
        r = std::rename(temp_.c_str(), resolved_.c_str());
    } else {
        // Atomic where the file system allows: never replace a file that
        // appeared while we were writing.
        r = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, resolved_.c_str(), RENAME_NOREPLACE);
        if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
            struct stat st {};
            if (::stat(resolved_.c_str(), &st) == 0) return Status::fail(existsMessage(target_));
            r = std::rename(temp_.c_str(), resolved_.c_str());
        }
    }
    if (r != 0) {
        if (errno == EEXIST) return Status::fail(existsMessage(target_));
        return Status::fail("cannot move the finished file to " + target_ + ": " + std::strerror(errno));
    }
    unregisterTempFile(temp_);
    temp_.clear();
    committed_ = true;
    return {};
}

void PendingFile::withdraw() {
    if (committed_ && !replaces_) ::unlink(resolved_.c_str());
}

Status flushFileSystemOf(const PendingFile& file) {
    if (file.direct() || file.temp().empty()) return {};
    const int fd = ::open(file.temp().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::syncfs(fd) != 0) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        return Status::fail("cannot write " + file.target() + ": " + std::strerror(err));
    }
    ::close(fd);
    return {};
}
