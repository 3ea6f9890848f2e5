// Builds the bundle reader fuzzer's seeds: the bundles of generated scenes and of
// the real exporter files up to 64 KiB, as the converter writes them.
//
//   make_bundle_seeds CORPUS_DIR OUTPUT_DIR
#include "conversion/convert.h"
#include "support/test_support.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    namespace testing = ase2sgl::testing;
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_bundle_seeds CORPUS_DIR OUTPUT_DIR\n");
        return 2;
    }
    const fs::path out = argv[2];
    fs::create_directories(out);
    int count = 0;
    auto add = [&](std::string_view ase) {
        testing::WriteFile(out / ("bundle-" + std::to_string(count++) + ".sgl"), ase2sgl::ConvertBytes(ase));
    };
    add("");
    add(testing::Scene({testing::BoxMesh("Box01")}));
    add(testing::Scene({testing::BoxMesh("a"), testing::WithoutTextureLists(testing::BoxMesh("b")),
                        testing::BoxMesh(std::string(300, 'n'))}));
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[1], error))
        if (entry.path().extension() == ".ase" && entry.file_size() <= 65536)
            add(testing::ReadFile(entry.path()));
    std::printf("%d seeds in %s\n", count, argv[2]);
    return 0;
}
