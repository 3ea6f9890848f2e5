// The process on POSIX: argv as given, signals, access(2), write(2).
#include "platform/process.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace ase2sgl::platform {

namespace {

void (*pendingCleanUp)() noexcept = nullptr;

// Ctrl-C, a closed terminal or a kill: the clean-up, then the signal ends the
// process as it would have.
extern "C" void OnTerminatingSignal(int signal)
{
    if (pendingCleanUp != nullptr)
        pendingCleanUp();
    std::raise(signal);  // handled once (SA_RESETHAND): this time the default action
}

}  // namespace

void PrepareProcess(void (*cleanUp)() noexcept)
{
    // A write past the file-size limit then fails like any other write, and the
    // temporary output is cleaned up, instead of the process being killed.
    std::signal(SIGXFSZ, SIG_IGN);
    pendingCleanUp = cleanUp;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;  // left ignored, as a shell's background job or nohup asked
        struct sigaction action {};
        action.sa_handler = OnTerminatingSignal;
        action.sa_flags = static_cast<int>(SA_RESETHAND);  // the flag is the sign bit
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

std::vector<std::string> Arguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return arguments;
}

bool IsReadable(const std::string& path)
{
    return ::access(path.c_str(), R_OK) == 0;
}

void WriteStandardError(std::string_view text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nowhere left to report to
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace ase2sgl::platform
