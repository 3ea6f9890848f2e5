// sgltool: looks into mesh bundles and reads ASE files of any exporter (see tools/sgltool.cpp).
#include "bundle/atomic_output.h"
#include "platform/process.h"
#include "tools/sgltool.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Console bytes as on other hosts ("\n" stays one byte); a run stopped from
    // outside leaves no half-written output behind.
    ase2sgl::platform::PrepareProcess(ase2sgl::RemoveUnfinishedOutput);
    // On Windows the wide command line as UTF-8: paths of any characters.
    std::vector<std::string> arguments = ase2sgl::platform::Arguments(argc, argv);
    std::vector<char*> pointers = {argv[0]};
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return ase2sgl::tools::RunSgltool(static_cast<int>(arguments.size() + 1), pointers.data());
}
