// Running the tool on POSIX: fork, exec, both output streams read through poll.
#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace ase2sgl::testing {

bool UnderWine()
{
    return false;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args, const std::filesystem::path& workingDir,
                         std::uint64_t addressSpaceLimit, const std::string& executable, int standardInput)
{
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0)
        throw std::runtime_error("pipe failed");
    // Everything the child needs is made before the fork: it only calls what is safe
    // between fork and exec.
    std::string program = executable.empty() ? std::string(ASE2SGL_EXE) : executable;
    std::vector<std::string> copies(args);
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (std::string& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        if (standardInput >= 0)
            ::dup2(standardInput, 0);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        if (::chdir(workingDir.c_str()) != 0)
            ::_exit(126);
        if (addressSpaceLimit != 0) {
            const rlimit limit{addressSpaceLimit, addressSpaceLimit};
            if (::setrlimit(RLIMIT_AS, &limit) != 0)
                ::_exit(125);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
}

ToolProcess::~ToolProcess()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ::close(outFd_);
    ::close(errFd_);
}

RunResult ToolProcess::Wait()
{
    RunResult result;
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
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
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& workingDir, int standardInput)
{
    return ToolProcess(args, workingDir, 0, "", standardInput).Wait();
}

RunResult RunProgram(const std::string& executable, const std::vector<std::string>& args,
                     const std::filesystem::path& workingDir, int standardInput)
{
    return ToolProcess(args, workingDir, 0, executable, standardInput).Wait();
}

}  // namespace ase2sgl::testing
