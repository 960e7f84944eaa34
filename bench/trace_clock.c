/* trace_clock.so: preloaded into Wine for a relay trace, puts "@SECONDS.MICROSECONDS " (the
 * monotonic clock) before each write to standard error, so that each line of Wine's debug
 * output, which goes out in one write, carries the moment it was written. */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

ssize_t write(int fd, const void *buffer, size_t count) {
    if (fd != 2) return syscall(SYS_write, fd, buffer, count);
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    char stamp[48];
    int length = snprintf(stamp, sizeof stamp, "@%ld.%06ld ", (long)now.tv_sec,
                          now.tv_nsec / 1000);
    struct iovec parts[2] = {{stamp, (size_t)length}, {(void *)buffer, count}};
    ssize_t written = syscall(SYS_writev, fd, parts, 2);
    if (written < 0) return written;
    return written < length ? 0 : written - length;
}
