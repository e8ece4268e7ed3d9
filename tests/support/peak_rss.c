/* Runs a program and writes its peak resident size, in kB, to a file:
 *
 *     dcu_peak_rss REPORT_FILE PROGRAM ARGS...
 *
 * The exit status is the program's (128 + the signal number when a signal
 * ended it).
 *
 * A child's ru_maxrss counts the size of the process it was started from
 * (the copy a fork makes, or the memory a spawned child shares until it
 * executes its program): started from a test, a small program would report
 * the test's size. Started from this small process instead, the program's
 * figure is its own peak (VmHWM). */
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) {
        fputs("usage: dcu_peak_rss REPORT_FILE PROGRAM ARGS...\n", stderr);
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0) return 127;
    if (pid == 0) {
        /* The program ends with this process (a runner's time-out kills this one). */
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) return 127;
    FILE *report = fopen(argv[1], "w");
    if (report != NULL) {
        fprintf(report, "%ld\n", usage.ru_maxrss);
        fclose(report);
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
