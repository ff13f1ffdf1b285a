/* A fault injector loaded with LD_PRELOAD: one system call fails on the
 * paths that hold a chosen text, in one program only, as a full disk, a
 * failing device or a refused owner change would make it fail.
 *
 *   VXL_FAULT=CALL:TEXT[:ERRNO]   CALL one of open (open, openat and their
 *                                 64-bit and fortified forms), mkstemp (the
 *                                 mk*stemp family), write, fsync, fchown,
 *                                 rename (rename, renameat), opendir; ERRNO
 *                                 defaults to EIO.
 *   VXL_FAULT_PROGRAM=NAME        only the program of that name fails (the
 *                                 commands it runs keep working).
 *
 * Calls on a descriptor match the path /proc/self/fd names for it, so a
 * temporary file ".sysctl.conf.XXXXXX" matches the text "sysctl.conf".
 * Every other call goes to the C library unchanged. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static char g_call[32];
static char g_text[4096];
static int g_errno = EIO;
static int g_state; /* 0 unread, 1 active, 2 inactive */

static void readSettings(void) {
    const char* fault = getenv("VXL_FAULT");
    const char* program = getenv("VXL_FAULT_PROGRAM");
    g_state = 2;
    if (fault == NULL || strcmp(program ? program : "", program_invocation_short_name) != 0) {
        return;
    }
    const char* colon = strchr(fault, ':');
    if (colon == NULL || (size_t)(colon - fault) >= sizeof g_call) return;
    memcpy(g_call, fault, (size_t)(colon - fault));
    snprintf(g_text, sizeof g_text, "%s", colon + 1);
    char* number = strrchr(g_text, ':');
    if (number != NULL) {
        *number = '\0';
        g_errno = atoi(number + 1);
    }
    g_state = 1;
}

static int failsOnPath(const char* call, const char* path) {
    if (g_state == 0) readSettings();
    return g_state == 1 && strcmp(call, g_call) == 0 && path != NULL && g_text[0] != '\0' &&
           strstr(path, g_text) != NULL;
}

static int failsOnDescriptor(const char* call, int fd) {
    if (g_state == 0) readSettings();
    if (g_state != 1 || strcmp(call, g_call) != 0) return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = '\0';
    return failsOnPath(call, path);
}

#define NEXT(name) ((name##_fn)dlsym(RTLD_NEXT, #name))
#define FAIL(result) \
    do {             \
        errno = g_errno; \
        return result; \
    } while (0)

static mode_t modeArgument(int flags, va_list ap) {
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(ap, int) : 0;
}

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);
typedef int (*open_2_fn)(const char*, int);
typedef int (*openat_2_fn)(int, const char*, int);

#define DEFINE_OPEN(name)                                  \
    int name(const char* path, int flags, ...) {           \
        va_list ap;                                        \
        va_start(ap, flags);                               \
        const mode_t mode = modeArgument(flags, ap);       \
        va_end(ap);                                        \
        if (failsOnPath("open", path)) FAIL(-1);           \
        return ((open_fn)dlsym(RTLD_NEXT, #name))(path, flags, mode); \
    }
#define DEFINE_OPENAT(name)                                          \
    int name(int dir, const char* path, int flags, ...) {            \
        va_list ap;                                                  \
        va_start(ap, flags);                                         \
        const mode_t mode = modeArgument(flags, ap);                 \
        va_end(ap);                                                  \
        if (failsOnPath("open", path)) FAIL(-1);                     \
        return ((openat_fn)dlsym(RTLD_NEXT, #name))(dir, path, flags, mode); \
    }
DEFINE_OPEN(open)
DEFINE_OPEN(open64)
DEFINE_OPENAT(openat)
DEFINE_OPENAT(openat64)

int __open_2(const char* path, int flags) {
    if (failsOnPath("open", path)) FAIL(-1);
    return ((open_2_fn)dlsym(RTLD_NEXT, "__open_2"))(path, flags);
}
int __open64_2(const char* path, int flags) {
    if (failsOnPath("open", path)) FAIL(-1);
    return ((open_2_fn)dlsym(RTLD_NEXT, "__open64_2"))(path, flags);
}
int __openat_2(int dir, const char* path, int flags) {
    if (failsOnPath("open", path)) FAIL(-1);
    return ((openat_2_fn)dlsym(RTLD_NEXT, "__openat_2"))(dir, path, flags);
}

typedef int (*mkstemp_fn)(char*);
typedef int (*mkostemp_fn)(char*, int);
int mkstemp(char* pattern) {
    if (failsOnPath("mkstemp", pattern)) FAIL(-1);
    return NEXT(mkstemp)(pattern);
}
int mkstemp64(char* pattern) {
    if (failsOnPath("mkstemp", pattern)) FAIL(-1);
    return ((mkstemp_fn)dlsym(RTLD_NEXT, "mkstemp64"))(pattern);
}
int mkostemp(char* pattern, int flags) {
    if (failsOnPath("mkstemp", pattern)) FAIL(-1);
    return NEXT(mkostemp)(pattern, flags);
}
int mkostemp64(char* pattern, int flags) {
    if (failsOnPath("mkstemp", pattern)) FAIL(-1);
    return ((mkostemp_fn)dlsym(RTLD_NEXT, "mkostemp64"))(pattern, flags);
}

typedef ssize_t (*write_fn)(int, const void*, size_t);
ssize_t write(int fd, const void* data, size_t size) {
    if (failsOnDescriptor("write", fd)) FAIL(-1);
    return NEXT(write)(fd, data, size);
}

typedef int (*fsync_fn)(int);
int fsync(int fd) {
    if (failsOnDescriptor("fsync", fd)) FAIL(-1);
    return NEXT(fsync)(fd);
}

typedef int (*fchown_fn)(int, uid_t, gid_t);
int fchown(int fd, uid_t owner, gid_t group) {
    if (failsOnDescriptor("fchown", fd)) FAIL(-1);
    return NEXT(fchown)(fd, owner, group);
}

typedef int (*rename_fn)(const char*, const char*);
typedef int (*renameat_fn)(int, const char*, int, const char*);
int rename(const char* from, const char* to) {
    if (failsOnPath("rename", from) || failsOnPath("rename", to)) FAIL(-1);
    return NEXT(rename)(from, to);
}
int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (failsOnPath("rename", from) || failsOnPath("rename", to)) FAIL(-1);
    return NEXT(renameat)(fromDir, from, toDir, to);
}

typedef DIR* (*opendir_fn)(const char*);
DIR* opendir(const char* path) {
    if (failsOnPath("opendir", path)) FAIL(NULL);
    return NEXT(opendir)(path);
}
