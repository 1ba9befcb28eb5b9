// A file written under a temporary name beside its target, then renamed
// over it, so that a crash or a full disk leaves the old file or the whole
// new one: the steps the settings store (store_posix.cpp) and the
// command-line host's outputs (cli/output/pending_file.cpp) share, each
// with names of its own. POSIX only; a temporary name carries its writer's
// pid, so that a later writer can tell one a killed process left behind.
#pragma once

#include <sys/types.h>

#include <cerrno>

inline constexpr mode_t kPermissionBits = 07777;  // of st_mode: what a replaced file keeps
inline constexpr int kTempNameAttempts = 100;     // names tried before none is free

// The pid in `name` when it is one of a writer's temporary names, else 0.
using TempNameOwner = long (*)(const char* name);

// Removes the regular files in `folder` ("" for the current one) whose
// names `owner` gives the pid of a process that is gone. This process's
// stay, and so does one whose pid is alive again: it may be another
// writer's now.
void removeDeadTemporaries(const char* folder, TempNameOwner owner);

// A new, empty file at `path` for writing, 0666 less the umask (a new file
// gets the usual permissions); -1 with errno when it cannot be, EEXIST when
// the name is taken.
int createNewFile(const char* path);

// Creates the first free name of up to kTempNameAttempts that `nextName()`
// gives (nullptr: it cannot make one), its descriptor into `fd`. Each name
// not created is handed to `dropped(name)`, after its errno is kept.
// Returns 0, or why it failed: ENAMETOOLONG for no name made, EEXIST for
// none free, else the errno of the attempt that failed.
template <typename NextName, typename Dropped>
int createTemporary(NextName nextName, Dropped dropped, int& fd) {
    fd = -1;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const char* name = nextName();
        if (name == nullptr) return ENAMETOOLONG;
        fd = createNewFile(name);
        if (fd >= 0) return 0;
        const int err = errno;
        dropped(name);
        if (err != EEXIST) return err;
    }
    return EEXIST;
}
