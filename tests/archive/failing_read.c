/* A disk that fails: preloaded into a Wine process, it makes every read of one
 * Unix file that reaches past a given offset fail with EIO, as a bad sector
 * would. Everything above the C library (Wine's ReadFile included) is real.
 *
 *   LD_PRELOAD=failing_read.so VLM_FAIL_READ_PATH=/abs/file VLM_FAIL_READ_AT=bytes
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static int fails(int fd, off_t start, size_t count) {
    const char* target = getenv("VLM_FAIL_READ_PATH");
    const char* at = getenv("VLM_FAIL_READ_AT");
    if (!target || !at || start < 0) return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0) return 0;
    path[n] = 0;
    return strcmp(path, target) == 0 && start + (off_t)count > (off_t)strtoll(at, NULL, 10);
}

ssize_t read(int fd, void* buf, size_t count) {
    static ssize_t (*real)(int, void*, size_t);
    if (!real) real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    if (fails(fd, lseek(fd, 0, SEEK_CUR), count)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, count);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    static ssize_t (*real)(int, void*, size_t, off_t);
    if (!real) real = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread");
    if (fails(fd, offset, count)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, count, offset);
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) { return pread(fd, buf, count, offset); }
