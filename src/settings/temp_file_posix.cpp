#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/temp_file.h"

void removeDeadTemporaries(const char* folder, TempNameOwner owner) {
    DIR* d = ::opendir(folder[0] == '\0' ? "." : folder);
    if (d == nullptr) return;
    while (const dirent* e = ::readdir(d)) {
        const long pid = owner(e->d_name);
        if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

int createNewFile(const char* path) { return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }
