// Runs one command and prints its wall time in seconds, its peak resident set in
// bytes and its exit status. A small launcher of its own, because the peak a child
// reports includes the memory of the process it was started from.
//   timed_run PROGRAM [ARGS...]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

extern char** environ;

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    timespec start{}, stop{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[1], &actions, nullptr, argv + 1, environ) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        std::perror("wait4");
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &stop);
    const double wall =
        static_cast<double>(stop.tv_sec - start.tv_sec) + 1e-9 * static_cast<double>(stop.tv_nsec - start.tv_nsec);
    std::printf("%.6f %ld %d\n", wall, usage.ru_maxrss * 1024L,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}
