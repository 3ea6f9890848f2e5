// Running a program on POSIX: fork, exec, both output streams read through poll.
#include "support/test_support.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace ase2sgl::testing {

RunResult RunProgram(const std::vector<std::string>& command, const std::filesystem::path& workingDir)
{
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        if (::chdir(workingDir.c_str()) != 0)
            ::_exit(126);
        std::vector<std::string> copies(command);
        std::vector<char*> argv;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    RunResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace ase2sgl::testing
