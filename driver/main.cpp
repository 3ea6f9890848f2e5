// ase2sgl: converts one ASE scene into one mesh bundle (.sgl).
//   ase2sgl INPUT.ase [OUTPUT.sgl]
#include "driver/command_line.h"

#include <csignal>

int main(int argc, char** argv)
{
    // A write past the file-size limit then fails like any other write, and the
    // temporary output is cleaned up, instead of the process being killed.
    std::signal(SIGXFSZ, SIG_IGN);
    return ase2sgl::RunConverter(argc, argv);
}
