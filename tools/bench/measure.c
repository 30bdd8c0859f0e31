/* measure OUT COMMAND [ARGS...]: runs COMMAND and writes one line to the file OUT:
 *     wall_s=<s> cpu_s=<user+system s> peak_mb=<MB> rc=<exit code>
 * peak_mb is the command's own peak resident size as the kernel counts it for that one child (wait4), so
 * it is not raised to the size of the process that measures, as a Python parent's 13.5 MB would be: only
 * this small program's own pages before the exec count (print its floor with "measure OUT /bin/true"). */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: measure OUT COMMAND [ARGS...]\n");
        return 2;
    }
    const double start = now();
    pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) < 0) return 2;
    const double wall = now() - start;
    FILE* out = fopen(argv[1], "w");
    if (!out) return 2;
    const double cpu = (double)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + (double)usage.ru_stime.tv_sec +
                       usage.ru_stime.tv_usec / 1e6;
    fprintf(out, "wall_s=%.3f cpu_s=%.3f peak_mb=%.1f rc=%d\n", wall, cpu, usage.ru_maxrss / 1024.0,
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return fclose(out) == 0 ? 0 : 2;
}
