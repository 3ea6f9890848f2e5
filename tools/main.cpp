// sgltool: looks into mesh bundles (see tools/sgltool.cpp).
#include "tools/sgltool.h"

int main(int argc, char** argv)
{
    return ase2sgl::tools::RunSgltool(argc, argv);
}
