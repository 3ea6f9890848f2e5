// Loads a bundle through the installed reader: one line per object, name and
// vertex count; exit 1 with the reader's reason for an unsound file.
#include "ase2sgl/bundle/bundle_reader.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    ase2sgl::bundle::MappedFile file;
    ase2sgl::bundle::ReadStatus status = file.Open(argv[1]);
    ase2sgl::bundle::Bundle bundle;
    if (status)
        status = bundle.Open(file.Bytes());
    if (!status) {
        std::fprintf(stderr, "%s: %s at byte %llu\n", argv[1], Describe(status.error),
                     static_cast<unsigned long long>(status.offset));
        return 1;
    }
    std::printf("objects %d\n", bundle.ObjectCount());
    for (const ase2sgl::bundle::Object& object : bundle)
        std::printf("%.*s %d\n", static_cast<int>(object.name.size()), object.name.data(), object.vertexCount);
    return 0;
}
