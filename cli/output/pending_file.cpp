#include "output/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kTempNameAttempts = 100;

}  // namespace

std::string existsMessage(const std::string& path) {
    return path + " exists; use --overwrite (-y) to replace it";
}

PendingFile::~PendingFile() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

Status PendingFile::create(const std::string& target, bool overwrite) {
    target_ = target;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Status::fail(target + " is a directory");
        if (!overwrite) return Status::fail(existsMessage(target));
    }
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    static int counter = 0;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const std::string name =
            dir + "." + base + ".kivrel-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        // 0666 less the umask: the finished file gets the usual permissions.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            temp_ = name;
            return {};
        }
        if (errno != EEXIST) return Status::fail("cannot write " + target + ": " + std::strerror(errno));
    }
    return Status::fail("cannot write " + target + ": no free temporary name beside it");
}

Status PendingFile::commit(bool overwrite) {
    int r = 0;
    if (overwrite) {
        r = std::rename(temp_.c_str(), target_.c_str());
    } else {
        // Atomic where the file system allows: never replace a file that
        // appeared while we were writing.
        r = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
        if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
            struct stat st {};
            if (::stat(target_.c_str(), &st) == 0) return Status::fail(existsMessage(target_));
            r = std::rename(temp_.c_str(), target_.c_str());
        }
    }
    if (r != 0) {
        if (errno == EEXIST) return Status::fail(existsMessage(target_));
        return Status::fail("cannot move the finished file to " + target_ + ": " + std::strerror(errno));
    }
    temp_.clear();
    return {};
}
