/* clock_recorder.c - an LD_PRELOAD library that stands in for the system
 * clock's setters, for measuring what a clock-setting program would write.
 *
 * clock_settime(CLOCK_REALTIME, ...) and settimeofday() change nothing and
 * report success. Each call appends one line to the file named by
 * QUORVEL_CLOCK_LOG:
 *
 *     <function> <error in microseconds>
 *
 * where the error is the requested time minus this machine's clock at the
 * moment of the call, minus QUORVEL_CLOCK_SHIFT_S seconds (how far the
 * server's clock was set ahead; a decimal number such as 259200.37). A program
 * that wrote the perfect time logs 0; one that wrote a late time logs a
 * negative number.
 *
 * Build: cc -shared -fPIC -O2 -o clock_recorder.so clock_recorder.c
 * Measurement code only: nothing of it is part of the program. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

/* Microseconds in a decimal number of seconds ("259200", "259200.37"); digits
 * beyond the sixth after the point are dropped. */
static long long seconds_to_us(const char *text)
{
    long long us = atoll(text) * 1000000LL;
    const char *point = strchr(text, '.');
    if (point) {
        long long scale = 100000;
        for (const char *p = point + 1; *p >= '0' && *p <= '9' && scale > 0; ++p, scale /= 10)
            us += (*p - '0') * scale;
    }
    return us;
}

static void record(const char *function, long long requested_us)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const char *shift_text = getenv("QUORVEL_CLOCK_SHIFT_S");
    const long long shift_us = shift_text ? seconds_to_us(shift_text) : 0;
    const long long now_us = (long long)now.tv_sec * 1000000LL + now.tv_nsec / 1000;
    const long long error_us = requested_us - now_us - shift_us;

    const char *path = getenv("QUORVEL_CLOCK_LOG");
    if (!path)
        return;
    char line[96];
    const int n = snprintf(line, sizeof line, "%s %lld\n", function, error_us);
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, (size_t)n) < 0) {
        /* nothing to do: the measurement is lost, the program goes on */
    }
    close(fd);
}

int clock_settime(clockid_t clock, const struct timespec *tp)
{
    if (clock != CLOCK_REALTIME) {
        errno = EINVAL;
        return -1;
    }
    record("clock_settime", (long long)tp->tv_sec * 1000000LL + tp->tv_nsec / 1000);
    return 0;
}

int settimeofday(const struct timeval *tv, const struct timezone *tz)
{
    (void)tz;
    if (!tv)
        return 0;
    record("settimeofday", (long long)tv->tv_sec * 1000000LL + tv->tv_usec);
    return 0;
}
