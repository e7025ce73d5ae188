/* measure_run.c - runs one command and records what it cost.
 *
 * Usage: measure_run LIMIT_S RESULT_FILE CMD [ARGS...]
 *
 * Runs CMD with the inherited standard streams, waits for it and appends one
 * line to RESULT_FILE:
 *     wall_us user_us sys_us maxrss_kib status
 *   wall_us     monotonic time from just before fork to the end of the wait,
 *               in microseconds;
 *   user_us     the command's user CPU time, microseconds (getrusage);
 *   sys_us      the command's system CPU time, microseconds;
 *   maxrss_kib  the command's peak resident set, KiB. The kernel reports the
 *               larger of this launcher's resident set at fork and the
 *               command's own peak, so the launcher is linked statically and
 *               stays far below what it measures;
 *   status      the exit status, or 128 + the signal number.
 * A command still running after LIMIT_S seconds is killed (SIGKILL).
 * Exits 0 when the line was written, 2 on a usage or system error.
 * GNU time prints CPU and wall times in hundredths of a second only, too
 * coarse for runs of a few milliseconds; hence this launcher.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static volatile pid_t child = -1;

static void on_alarm(int sig)
{
    (void)sig;
    if (child > 0)
        kill(child, SIGKILL);
}

static long long now_us(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

static long long timeval_us(struct timeval tv)
{
    return (long long)tv.tv_sec * 1000000 + tv.tv_usec;
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: measure_run LIMIT_S RESULT_FILE CMD [ARGS...]\n");
        return 2;
    }
    const unsigned limit_s = (unsigned)strtoul(argv[1], NULL, 10);
    FILE* result = fopen(argv[2], "a");
    if (!result || limit_s == 0) {
        fprintf(stderr, "measure_run: bad limit or cannot open %s\n", argv[2]);
        return 2;
    }

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_alarm;
    sigaction(SIGALRM, &sa, NULL);

    const long long start = now_us();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("measure_run: fork");
        return 2;
    }
    if (pid == 0) {
        fclose(result);
        execvp(argv[3], argv + 3);
        fprintf(stderr, "measure_run: cannot run %s: %s\n", argv[3], strerror(errno));
        _exit(127);
    }
    child = pid;
    alarm(limit_s);

    int status = 0;
    struct rusage usage;
    pid_t done;
    do {
        done = wait4(pid, &status, 0, &usage);
    } while (done < 0 && errno == EINTR);
    const long long wall = now_us() - start;
    alarm(0);
    if (done < 0) {
        perror("measure_run: wait4");
        return 2;
    }

    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    fprintf(result, "%lld %lld %lld %ld %d\n", wall, timeval_us(usage.ru_utime),
            timeval_us(usage.ru_stime), usage.ru_maxrss, code);
    return fclose(result) == 0 ? 0 : 2;
}
