// Converts one file through the installed converter library: exit 0, or 3 with
// the conversion's reason.
#include "ase2sgl/common/conversion_error.h"
#include "ase2sgl/conversion/convert.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    try {
        ase2sgl::Convert(argv[1], argv[2]);
    } catch (const ase2sgl::ConversionError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 3;
    }
    return 0;
}
