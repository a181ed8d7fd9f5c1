/* A preload library for the crash test: counts the write-like calls a process
 * makes once it is armed (write, pwrite, writev, truncation, space allocation,
 * rename, link, unlink, sync, and the close of a file that was written), and
 * kills the process before call number NARRABEL_FAULT_AT, or, with
 * NARRABEL_FAULT_MODE=cut, lets only half of that call's bytes land first
 * (a write torn by a power cut). Calls that write no bytes are killed before
 * in either mode. NARRABEL_FAULT_REPORT names a file that receives the count
 * when the process ends normally. The process arms it by calling
 * narrabel_fault_arm (found with dlsym), so its own set-up is not counted. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

static int armed;
static long calls;
static long faultAt = -1;
static int cut;
static unsigned char written[65536 / 8];

static void markWritten(int fd) {
    if (fd >= 0 && fd < 65536) written[fd / 8] |= (unsigned char)(1u << (fd % 8));
}

static int takeWritten(int fd) {
    if (fd < 0 || fd >= 65536) return 0;
    const int was = (written[fd / 8] >> (fd % 8)) & 1;
    written[fd / 8] &= (unsigned char)~(1u << (fd % 8));
    return was;
}

static void die(void) {
    syscall(SYS_kill, getpid(), SIGKILL);
    for (;;)
        pause();
}

void narrabel_fault_arm(void) {
    const char* at = getenv("NARRABEL_FAULT_AT");
    const char* mode = getenv("NARRABEL_FAULT_MODE");
    faultAt = at && *at ? atol(at) : -1;
    cut = mode && strcmp(mode, "cut") == 0;
    calls = 0;
    armed = 1;
}

__attribute__((destructor)) static void report(void) {
    const char* path = getenv("NARRABEL_FAULT_REPORT");
    if (!armed || !path) return;
    char text[32];
    const int n = snprintf(text, sizeof text, "%ld\n", calls);
    const int fd = (int)syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    syscall(SYS_write, fd, text, (size_t)n);
    syscall(SYS_close, fd);
}

/* 1 when this call is the one to fail (it is counted either way). */
static int fault(void) {
    if (!armed) return 0;
    ++calls;
    return calls == faultAt;
}

#define REAL(name)                                                                                 \
    static __typeof__(name)* real_##name;                                                          \
    if (!real_##name) real_##name = (__typeof__(name)*)dlsym(RTLD_NEXT, #name)

/* Data writes: cut in half in cut mode, else killed before. */
ssize_t write(int fd, const void* buf, size_t n) {
    REAL(write);
    if (fd > 2) {
        markWritten(fd);
        if (fault()) {
            if (cut && n > 1) real_write(fd, buf, n / 2);
            die();
        }
    }
    return real_write(fd, buf, n);
}

static ssize_t pwriteCommon(int fd, const void* buf, size_t n, off_t at,
                            ssize_t (*real)(int, const void*, size_t, off_t)) {
    markWritten(fd);
    if (fault()) {
        if (cut && n > 1) real(fd, buf, n / 2, at);
        die();
    }
    return real(fd, buf, n, at);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    REAL(pwrite);
    return pwriteCommon(fd, buf, n, at, real_pwrite);
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off_t at) {
    REAL(pwrite64);
    return pwriteCommon(fd, buf, n, at, real_pwrite64);
}

/* The first half of the bytes of an iovec list, as a list of its own. */
static int halve(const struct iovec* iov, int count, struct iovec* out) {
    size_t total = 0;
    for (int i = 0; i < count; ++i)
        total += iov[i].iov_len;
    size_t left = total / 2;
    int k = 0;
    for (int i = 0; i < count && left > 0 && k < 64; ++i) {
        out[k] = iov[i];
        if (out[k].iov_len > left) out[k].iov_len = left;
        left -= out[k].iov_len;
        ++k;
    }
    return k;
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
    REAL(writev);
    if (fd > 2) {
        markWritten(fd);
        if (fault()) {
            struct iovec half[64];
            const int k = cut ? halve(iov, count, half) : 0;
            if (k > 0) real_writev(fd, half, k);
            die();
        }
    }
    return real_writev(fd, iov, count);
}

ssize_t pwritev(int fd, const struct iovec* iov, int count, off_t at) {
    REAL(pwritev);
    markWritten(fd);
    if (fault()) {
        struct iovec half[64];
        const int k = cut ? halve(iov, count, half) : 0;
        if (k > 0) real_pwritev(fd, half, k, at);
        die();
    }
    return real_pwritev(fd, iov, count, at);
}

/* The other calls: killed before. */
#define BEFORE()                                                                                   \
    do {                                                                                           \
        if (fault()) die();                                                                        \
    } while (0)

int ftruncate(int fd, off_t len) {
    REAL(ftruncate);
    markWritten(fd);
    BEFORE();
    return real_ftruncate(fd, len);
}

int ftruncate64(int fd, off_t len) {
    REAL(ftruncate64);
    markWritten(fd);
    BEFORE();
    return real_ftruncate64(fd, len);
}

int truncate(const char* path, off_t len) {
    REAL(truncate);
    BEFORE();
    return real_truncate(path, len);
}

int fallocate(int fd, int mode, off_t at, off_t len) {
    REAL(fallocate);
    markWritten(fd);
    BEFORE();
    return real_fallocate(fd, mode, at, len);
}

int fallocate64(int fd, int mode, off_t at, off_t len) {
    REAL(fallocate64);
    markWritten(fd);
    BEFORE();
    return real_fallocate64(fd, mode, at, len);
}

int posix_fallocate(int fd, off_t at, off_t len) {
    REAL(posix_fallocate);
    markWritten(fd);
    BEFORE();
    return real_posix_fallocate(fd, at, len);
}

int posix_fallocate64(int fd, off_t at, off_t len) {
    REAL(posix_fallocate64);
    markWritten(fd);
    BEFORE();
    return real_posix_fallocate64(fd, at, len);
}

int rename(const char* from, const char* to) {
    REAL(rename);
    BEFORE();
    return real_rename(from, to);
}

int renameat(int a, const char* from, int b, const char* to) {
    REAL(renameat);
    BEFORE();
    return real_renameat(a, from, b, to);
}

int renameat2(int a, const char* from, int b, const char* to, unsigned flags) {
    REAL(renameat2);
    BEFORE();
    return real_renameat2(a, from, b, to, flags);
}

int link(const char* from, const char* to) {
    REAL(link);
    BEFORE();
    return real_link(from, to);
}

int linkat(int a, const char* from, int b, const char* to, int flags) {
    REAL(linkat);
    BEFORE();
    return real_linkat(a, from, b, to, flags);
}

int unlink(const char* path) {
    REAL(unlink);
    BEFORE();
    return real_unlink(path);
}

int unlinkat(int dir, const char* path, int flags) {
    REAL(unlinkat);
    BEFORE();
    return real_unlinkat(dir, path, flags);
}

int remove(const char* path) {
    REAL(remove);
    BEFORE();
    return real_remove(path);
}

int fsync(int fd) {
    REAL(fsync);
    BEFORE();
    return real_fsync(fd);
}

int fdatasync(int fd) {
    REAL(fdatasync);
    BEFORE();
    return real_fdatasync(fd);
}

int close(int fd) {
    REAL(close);
    if (takeWritten(fd)) BEFORE();
    return real_close(fd);
}
