// Writes a benchmark ASE scene:
//   generate_ase (realistic|adversarial|one-object) SIZE_BYTES OUTPUT [--crlf] [--seed N]
// and prints the size, the object count and the largest object's array bytes.
#include "ase_generator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    using namespace ase2sgl::bench;
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s (realistic|adversarial|one-object) SIZE_BYTES OUTPUT [--crlf] [--seed N]\n", argv[0]);
        return 2;
    }
    GeneratorOptions options;
    options.layout = std::strcmp(argv[1], "adversarial") == 0  ? Layout::kAdversarial
                     : std::strcmp(argv[1], "one-object") == 0 ? Layout::kOneObject
                                                                : Layout::kRealistic;
    options.targetBytes = std::strtoull(argv[2], nullptr, 10);
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--crlf") == 0)
            options.crlf = true;
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
            options.seed = std::strtoull(argv[++i], nullptr, 10);
    }
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    const GeneratedScene scene = GenerateAse(options, out);
    if (std::fclose(out) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    // For the runner: what the peak-memory target is measured against.
    std::printf("bytes %llu objects %lld largest_object_array_bytes %llu\n",
                static_cast<unsigned long long>(scene.bytes), static_cast<long long>(scene.objects),
                static_cast<unsigned long long>(scene.largestObjectArrayBytes));
    return 0;
}
