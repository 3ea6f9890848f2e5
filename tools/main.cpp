// sgltool: looks into mesh bundles and reads ASE files of any exporter (see tools/sgltool.cpp).
#include "bundle/atomic_output.h"
#include "platform/process.h"
#include "tools/sgltool.h"

int main(int argc, char** argv)
{
    // Console bytes as on other hosts ("\n" stays one byte); a run stopped from
    // outside leaves no half-written output behind.
    ase2sgl::platform::PrepareProcess(ase2sgl::RemoveUnfinishedOutput);
    // On Windows the wide command line as UTF-8: paths of any characters.
    return ase2sgl::platform::RunWithArguments(argc, argv, ase2sgl::tools::RunSgltool);
}
