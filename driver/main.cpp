// ase2sgl: converts one ASE scene into one mesh bundle (.sgl).
//   ase2sgl INPUT.ase [OUTPUT.sgl]
#include "bundle/atomic_output.h"
#include "driver/command_line.h"
#include "platform/process.h"

int main(int argc, char** argv)
{
    // Ctrl-C, a closed terminal or console, a kill: the half-written temporary output
    // goes, then the process ends as it would have.
    ase2sgl::platform::PrepareProcess(ase2sgl::RemoveUnfinishedOutput);
    return ase2sgl::platform::RunWithArguments(argc, argv, ase2sgl::RunConverter);
}
