// sgltool: looks into mesh bundles and reads ASE files of any exporter (see tools/sgltool.cpp).
#include "tools/sgltool.h"

int main(int argc, char** argv)
{
    return ase2sgl::tools::RunSgltool(argc, argv);
}
