/* A preload library for the crash test: counts the write-like calls a process
 * makes once it is armed (write, pwrite, writev, truncation, space allocation,
 * rename, link, unlink, sync, and the close of a file that was written), and
 * kills the process before call number NARRABEL_FAULT_AT, or, with
 * NARRABEL_FAULT_MODE=cut, lets only half of that call's bytes land first
 * (a write torn by a power cut). Calls that write no bytes are killed before
 * in either mode. NARRABEL_FAULT_REPORT names a file that receives the count
 * when the process ends normally. The process arms it by calling
 * narrabel_fault_arm (found with dlsym), so its own set-up is not counted.
 *
 * It also watches the order of the calls, which a kill cannot show (the page
 * cache outlives a killed process, but not a power cut): once a journal (a
 * file whose name ends in "-journal" or ".journal") has been written, no
 * other file may be written, truncated, renamed, linked or removed until the
 * journal is synced (fsync or fdatasync of any descriptor of it) or removed.
 * Each breach is reported after the count, one line each. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
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

/* ---- the order of calls */

/* Journals written since their last sync. */
static struct {
    dev_t dev;
    ino_t ino;
    char path[256];
    int used;
} unsynced[16];
static char breaches[8][600];
static int breachCount;

static int isJournal(const char* path) {
    const size_t n = strlen(path);
    return n >= 8 &&
           (strcmp(path + n - 8, "-journal") == 0 || strcmp(path + n - 8, ".journal") == 0);
}

static int pathOf(int fd, char* out, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, out, size - 1);
    if (n < 0) return 0;
    out[n] = 0;
    return 1;
}

static void forget(dev_t dev, ino_t ino) {
    for (int i = 0; i < 16; ++i)
        if (unsynced[i].used && unsynced[i].dev == dev && unsynced[i].ino == ino)
            unsynced[i].used = 0;
}

static void remember(dev_t dev, ino_t ino, const char* path) {
    int free = -1;
    for (int i = 0; i < 16; ++i) {
        if (unsynced[i].used && unsynced[i].dev == dev && unsynced[i].ino == ino) return;
        if (!unsynced[i].used && free < 0) free = i;
    }
    if (free < 0) return;
    unsynced[free].dev = dev;
    unsynced[free].ino = ino;
    snprintf(unsynced[free].path, sizeof unsynced[free].path, "%s", path);
    unsynced[free].used = 1;
}

/* Something other than a journal changes: no journal may wait for its sync. */
static void mustBeSynced(const char* what, const char* path) {
    for (int i = 0; i < 16; ++i) {
        if (!unsynced[i].used) continue;
        if (breachCount < 8)
            snprintf(breaches[breachCount], sizeof breaches[0], "%s %s while %s was not synced",
                     what, path, unsynced[i].path);
        ++breachCount;
        unsynced[i].used = 0; /* once per journal write */
    }
}

/* A data write or a truncation of fd. */
static void noteWrite(int fd) {
    char path[512];
    struct stat st;
    if (!armed || fd <= 2 || !pathOf(fd, path, sizeof path) || fstat(fd, &st) != 0) return;
    if (isJournal(path))
        remember(st.st_dev, st.st_ino, path);
    else if (S_ISREG(st.st_mode))
        mustBeSynced("wrote", path);
}

static void noteSync(int fd) {
    struct stat st;
    if (armed && fstat(fd, &st) == 0) forget(st.st_dev, st.st_ino);
}

/* A name is made, replaced or removed. */
static void noteName(const char* what, const char* path) {
    struct stat st;
    if (!armed || !path) return;
    if (isJournal(path)) {
        /* A journal removed ends its change: its sync no longer matters. */
        if (lstat(path, &st) == 0) forget(st.st_dev, st.st_ino);
        return;
    }
    mustBeSynced(what, path);
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
    for (int i = 0; i < breachCount && i < 8; ++i) {
        syscall(SYS_write, fd, "order: ", (size_t)7);
        syscall(SYS_write, fd, breaches[i], strlen(breaches[i]));
        syscall(SYS_write, fd, "\n", (size_t)1);
    }
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
        noteWrite(fd);
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
    noteWrite(fd);
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
        noteWrite(fd);
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
    noteWrite(fd);
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
    noteWrite(fd);
    BEFORE();
    return real_ftruncate(fd, len);
}

int ftruncate64(int fd, off_t len) {
    REAL(ftruncate64);
    markWritten(fd);
    noteWrite(fd);
    BEFORE();
    return real_ftruncate64(fd, len);
}

int truncate(const char* path, off_t len) {
    REAL(truncate);
    noteName("truncated", path);
    BEFORE();
    return real_truncate(path, len);
}

int fallocate(int fd, int mode, off_t at, off_t len) {
    REAL(fallocate);
    markWritten(fd);
    noteWrite(fd);
    BEFORE();
    return real_fallocate(fd, mode, at, len);
}

int fallocate64(int fd, int mode, off_t at, off_t len) {
    REAL(fallocate64);
    markWritten(fd);
    noteWrite(fd);
    BEFORE();
    return real_fallocate64(fd, mode, at, len);
}

int posix_fallocate(int fd, off_t at, off_t len) {
    REAL(posix_fallocate);
    markWritten(fd);
    noteWrite(fd);
    BEFORE();
    return real_posix_fallocate(fd, at, len);
}

int posix_fallocate64(int fd, off_t at, off_t len) {
    REAL(posix_fallocate64);
    markWritten(fd);
    noteWrite(fd);
    BEFORE();
    return real_posix_fallocate64(fd, at, len);
}

int rename(const char* from, const char* to) {
    REAL(rename);
    noteName("renamed", from);
    noteName("replaced", to);
    BEFORE();
    return real_rename(from, to);
}

int renameat(int a, const char* from, int b, const char* to) {
    REAL(renameat);
    noteName("renamed", from);
    noteName("replaced", to);
    BEFORE();
    return real_renameat(a, from, b, to);
}

int renameat2(int a, const char* from, int b, const char* to, unsigned flags) {
    REAL(renameat2);
    noteName("renamed", from);
    noteName("replaced", to);
    BEFORE();
    return real_renameat2(a, from, b, to, flags);
}

int link(const char* from, const char* to) {
    REAL(link);
    noteName("linked", to);
    BEFORE();
    return real_link(from, to);
}

int linkat(int a, const char* from, int b, const char* to, int flags) {
    REAL(linkat);
    noteName("linked", to);
    BEFORE();
    return real_linkat(a, from, b, to, flags);
}

int unlink(const char* path) {
    REAL(unlink);
    noteName("removed", path);
    BEFORE();
    return real_unlink(path);
}

int unlinkat(int dir, const char* path, int flags) {
    REAL(unlinkat);
    noteName("removed", path);
    BEFORE();
    return real_unlinkat(dir, path, flags);
}

int remove(const char* path) {
    REAL(remove);
    noteName("removed", path);
    BEFORE();
    return real_remove(path);
}

int fsync(int fd) {
    REAL(fsync);
    BEFORE();
    const int r = real_fsync(fd);
    if (r == 0) noteSync(fd);
    return r;
}

int fdatasync(int fd) {
    REAL(fdatasync);
    BEFORE();
    const int r = real_fdatasync(fd);
    if (r == 0) noteSync(fd);
    return r;
}

int close(int fd) {
    REAL(close);
    if (takeWritten(fd)) BEFORE();
    return real_close(fd);
}
