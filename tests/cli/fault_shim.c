/* A disk that fails on cue, for kivrel run under LD_PRELOAD. Only files whose
 * path (as /proc/self/fd names it: "pipe:[...]" for a pipe) contains
 * $KIVREL_FAULT_PATH are touched; everything else, stderr included, goes
 * through. $KIVREL_FAULT_OP picks what fails:
 *   write   write, pwrite, writev and fwrite: $KIVREL_FAULT_AFTER bytes in all
 *           go through (the last call cut short), then every call fails
 *   fsync   fsync, fdatasync and syncfs, after $KIVREL_FAULT_AFTER calls
 *   rename  rename, renameat and renameat2 onto a matching name, after
 *           $KIVREL_FAULT_AFTER calls
 *   create  opening a matching name for writing (a read-only folder)
 * with the errno $KIVREL_FAULT_ERRNO names (ENOSPC, EIO, EROFS, EDQUOT). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

enum Op { kNone, kWrite, kFsync, kRename, kCreate };

static enum Op op = kNone;
static const char* pattern = "";
static long long budget = 0; /* bytes or calls still allowed */
static int failErrno = ENOSPC;

__attribute__((constructor)) static void configure(void) {
    const char* o = getenv("KIVREL_FAULT_OP");
    const char* p = getenv("KIVREL_FAULT_PATH");
    const char* a = getenv("KIVREL_FAULT_AFTER");
    const char* e = getenv("KIVREL_FAULT_ERRNO");
    if (o == NULL || p == NULL || *p == '\0') return;
    pattern = p;
    op = strcmp(o, "write") == 0    ? kWrite
         : strcmp(o, "fsync") == 0  ? kFsync
         : strcmp(o, "rename") == 0 ? kRename
         : strcmp(o, "create") == 0 ? kCreate
                                    : kNone;
    budget = a != NULL ? atoll(a) : 0;
    if (e != NULL) {
        static const struct {
            const char* name;
            int value;
        } names[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EROFS", EROFS}, {"EDQUOT", EDQUOT}};
        for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
            if (strcmp(e, names[i].name) == 0) failErrno = names[i].value;
    }
}

static void* next(const char* name) { return dlsym(RTLD_NEXT, name); }

static int pathMatches(const char* path) { return path != NULL && strstr(path, pattern) != NULL; }

/* Whether `path`, taken from the folder `dir` (AT_FDCWD: the current one), matches. */
static int namedPathMatches(int dir, const char* path) {
    if (path == NULL) return 0;
    if (path[0] == '/') return pathMatches(path);
    char full[8192], link[64];
    ssize_t n = -1;
    if (dir == AT_FDCWD) {
        n = getcwd(full, 4096) != NULL ? (ssize_t)strlen(full) : -1;
    } else {
        snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
        n = readlink(link, full, 4096);
    }
    if (n < 0) return 0;
    snprintf(full + n, sizeof full - (size_t)n, "/%s", path);
    return pathMatches(full);
}

static int fdMatches(int fd) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0) return 0;
    target[n] = '\0';
    return pathMatches(target);
}

/* How many of `wanted` bytes may go to `fd`: all when untouched, fewer (0
 * with errno set) once the budget runs out. */
static size_t allowedBytes(int fd, size_t wanted, int* failed) {
    *failed = 0;
    if (op != kWrite || wanted == 0 || !fdMatches(fd)) return wanted;
    if (budget <= 0) {
        *failed = 1;
        return 0;
    }
    const size_t n = (long long)wanted < budget ? wanted : (size_t)budget;
    budget -= (long long)n;
    return n;
}

/* Whether one more call of `kind` fails. */
static int callFails(enum Op kind) {
    if (op != kind) return 0;
    if (budget > 0) {
        --budget;
        return 0;
    }
    return 1;
}

ssize_t write(int fd, const void* buf, size_t count) {
    static ssize_t (*real)(int, const void*, size_t);
    if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))next("write");
    int failed = 0;
    const size_t n = allowedBytes(fd, count, &failed);
    if (failed) {
        errno = failErrno;
        return -1;
    }
    return real(fd, buf, n);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    static ssize_t (*real)(int, const void*, size_t, off_t);
    if (real == NULL) real = (ssize_t(*)(int, const void*, size_t, off_t))next("pwrite");
    int failed = 0;
    const size_t n = allowedBytes(fd, count, &failed);
    if (failed) {
        errno = failErrno;
        return -1;
    }
    return real(fd, buf, n, offset);
}
ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) __attribute__((alias("pwrite")));

ssize_t writev(int fd, const struct iovec* iov, int count) {
    static ssize_t (*real)(int, const struct iovec*, int);
    if (real == NULL) real = (ssize_t(*)(int, const struct iovec*, int))next("writev");
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += iov[i].iov_len;
    int failed = 0;
    size_t n = allowedBytes(fd, total, &failed);
    if (failed) {
        errno = failErrno;
        return -1;
    }
    if (n == total) return real(fd, iov, count);
    /* Cut short: the first n bytes, piece by piece, past the budget's count. */
    static ssize_t (*realWrite)(int, const void*, size_t);
    if (realWrite == NULL) realWrite = (ssize_t(*)(int, const void*, size_t))next("write");
    ssize_t done = 0;
    for (int i = 0; i < count && n > 0; ++i) {
        const size_t part = iov[i].iov_len < n ? iov[i].iov_len : n;
        const ssize_t w = realWrite(fd, iov[i].iov_base, part);
        if (w < 0) return done > 0 ? done : -1;
        done += w;
        n -= part;
    }
    return done;
}

size_t fwrite(const void* buf, size_t size, size_t items, FILE* f) {
    static size_t (*real)(const void*, size_t, size_t, FILE*);
    if (real == NULL) real = (size_t(*)(const void*, size_t, size_t, FILE*))next("fwrite");
    if (size == 0) return real(buf, size, items, f);
    int failed = 0;
    const size_t n = allowedBytes(fileno(f), size * items, &failed) / size;
    if (failed) {
        errno = failErrno;
        return 0;
    }
    const size_t done = real(buf, size, n, f);
    if (done < items) errno = failErrno;
    return done;
}

int fsync(int fd) {
    static int (*real)(int);
    if (real == NULL) real = (int (*)(int))next("fsync");
    if (fdMatches(fd) && callFails(kFsync)) {
        errno = failErrno;
        return -1;
    }
    return real(fd);
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (real == NULL) real = (int (*)(int))next("fdatasync");
    if (fdMatches(fd) && callFails(kFsync)) {
        errno = failErrno;
        return -1;
    }
    return real(fd);
}

int syncfs(int fd) {
    static int (*real)(int);
    if (real == NULL) real = (int (*)(int))next("syncfs");
    if (fdMatches(fd) && callFails(kFsync)) {
        errno = failErrno;
        return -1;
    }
    return real(fd);
}

int rename(const char* from, const char* to) {
    static int (*real)(const char*, const char*);
    if (real == NULL) real = (int (*)(const char*, const char*))next("rename");
    if (namedPathMatches(AT_FDCWD, to) && callFails(kRename)) {
        errno = failErrno;
        return -1;
    }
    return real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static int (*real)(int, const char*, int, const char*);
    if (real == NULL) real = (int (*)(int, const char*, int, const char*))next("renameat");
    if (namedPathMatches(toDir, to) && callFails(kRename)) {
        errno = failErrno;
        return -1;
    }
    return real(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    static int (*real)(int, const char*, int, const char*, unsigned);
    if (real == NULL) real = (int (*)(int, const char*, int, const char*, unsigned))next("renameat2");
    if (namedPathMatches(toDir, to) && callFails(kRename)) {
        errno = failErrno;
        return -1;
    }
    return real(fromDir, from, toDir, to, flags);
}

/* Opening for writing, as a read-only folder refuses it. */
static int refusesOpen(int dir, const char* path, int flags) {
    return op == kCreate && (flags & (O_WRONLY | O_RDWR | O_CREAT)) != 0 && namedPathMatches(dir, path);
}

#define OPEN_SHIM(name, ...)                                                  \
    int name(__VA_ARGS__, int flags, ...) {                                   \
        static int (*real)(__VA_ARGS__, int, ...);                            \
        if (real == NULL) real = (int (*)(__VA_ARGS__, int, ...))next(#name); \
        mode_t mode = 0;                                                      \
        if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {     \
            va_list ap;                                                       \
            va_start(ap, flags);                                              \
            mode = (mode_t)va_arg(ap, int);                                   \
            va_end(ap);                                                       \
        }                                                                     \
        if (refusesOpen(OPEN_DIR_##name, path, flags)) {                      \
            errno = failErrno;                                                \
            return -1;                                                        \
        }                                                                     \
        return OPEN_CALL_##name;                                              \
    }
#define OPEN_DIR_open AT_FDCWD
#define OPEN_DIR_open64 AT_FDCWD
#define OPEN_DIR_openat dir
#define OPEN_DIR_openat64 dir
#define OPEN_CALL_open real(path, flags, mode)
#define OPEN_CALL_open64 real(path, flags, mode)
#define OPEN_CALL_openat real(dir, path, flags, mode)
#define OPEN_CALL_openat64 real(dir, path, flags, mode)
OPEN_SHIM(open, const char* path)
OPEN_SHIM(open64, const char* path)
OPEN_SHIM(openat, int dir, const char* path)
OPEN_SHIM(openat64, int dir, const char* path)

FILE* fopen(const char* path, const char* mode) {
    static FILE* (*real)(const char*, const char*);
    if (real == NULL) real = (FILE * (*)(const char*, const char*)) next("fopen");
    if (op == kCreate && strpbrk(mode, "wa+") != NULL && namedPathMatches(AT_FDCWD, path)) {
        errno = failErrno;
        return NULL;
    }
    return real(path, mode);
}
FILE* fopen64(const char* path, const char* mode) __attribute__((alias("fopen")));
