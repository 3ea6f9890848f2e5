// ase2sgl: converts one ASE scene into one mesh bundle (.sgl).
//   ase2sgl INPUT.ase [OUTPUT.sgl]
#include "bundle/atomic_output.h"
#include "driver/command_line.h"
#include "platform/process.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Ctrl-C, a closed terminal or console, a kill: the half-written temporary output
    // goes, then the process ends as it would have.
    ase2sgl::platform::PrepareProcess(ase2sgl::RemoveUnfinishedOutput);
    std::vector<std::string> arguments = ase2sgl::platform::Arguments(argc, argv);
    std::vector<char*> pointers = {argv[0]};
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return ase2sgl::RunConverter(static_cast<int>(arguments.size() + 1), pointers.data());
}
