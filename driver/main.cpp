// ase2sgl: converts one ASE scene into one mesh bundle (.sgl).
//   ase2sgl INPUT.ase [OUTPUT.sgl]
#include "bundle/atomic_output.h"
#include "driver/command_line.h"

#include <csignal>

namespace {

// Ctrl-C, a closed terminal or a kill: the half-written temporary output goes, then
// the signal ends the process as it would have.
extern "C" void OnTerminatingSignal(int signal)
{
    ase2sgl::RemoveUnfinishedOutput();
    std::raise(signal);  // handled once (SA_RESETHAND): this time the default action
}

void RemoveOutputOnSignals()
{
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

}  // namespace

int main(int argc, char** argv)
{
    // A write past the file-size limit then fails like any other write, and the
    // temporary output is cleaned up, instead of the process being killed.
    std::signal(SIGXFSZ, SIG_IGN);
    RemoveOutputOnSignals();
    return ase2sgl::RunConverter(argc, argv);
}
