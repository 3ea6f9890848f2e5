// Builds the fuzzer's seed folder: the real exporter files, generated scenes in the
// exporter's layout (every list present, lists missing, several objects), and
// damaged variants of both.
//   make_fuzz_seeds CORPUS_DIR OUTPUT_DIR
// A missing CORPUS_DIR leaves out the real files. The seeds are made anew on every
// run and never committed.
#include "support/ase_damage.h"
#include "support/test_support.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

using namespace ase2sgl;
namespace fs = std::filesystem;

// Real files larger than this are fuzzed as they are, not damaged into many copies.
constexpr std::uintmax_t kDamageSizeLimit = 16 * 1024;

std::vector<std::string> GeneratedScenes()
{
    testing::MeshSpec verticesOnly;
    verticesOnly.name = "Points";
    verticesOnly.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    verticesOnly.normalsBlock = false;
    return {
        testing::Scene({}),
        testing::Scene({testing::BoxMesh()}),
        testing::Scene({testing::BoxMesh("Box01"), testing::BoxMesh("box 2")}),
        testing::Scene({testing::WithoutTextureLists(testing::BoxMesh("Untextured")),
                        testing::WithoutNormalsBlock(testing::BoxMesh("NoNormals")), verticesOnly,
                        testing::BoxMesh("Last")}),
    };
}

class SeedFolder {
  public:
    explicit SeedFolder(fs::path dir) : dir_(std::move(dir)) { fs::create_directories(dir_); }

    void Add(std::string_view bytes)
    {
        char name[32];
        std::snprintf(name, sizeof name, "seed-%05d", count_++);
        testing::WriteFile(dir_ / name, bytes);
    }

    // One in `every` of the single damages (they are many, and neighbours alike),
    // and `stacked` variants with several damages each.
    void AddDamaged(std::string_view ase, int every, int stacked, std::uint64_t seed)
    {
        int k = 0;
        damage::ForEachDamage(ase, [&](const damage::Variant& variant) {
            if (k++ % every == 0)
                Add(variant.bytes);
        });
        damage::ForEachStackedDamage(ase, seed, stacked, [&](const damage::Variant& variant) { Add(variant.bytes); });
    }

    int count() const { return count_; }

  private:
    fs::path dir_;
    int count_ = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    SeedFolder seeds(argv[2]);
    std::uint64_t seed = 1;
    for (const std::string& scene : GeneratedScenes()) {
        seeds.Add(scene);
        seeds.AddDamaged(scene, 23, 150, seed++);
    }
    std::error_code error;
    if (fs::is_directory(argv[1], error)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(argv[1])) {
            if (!entry.is_regular_file())
                continue;
            const std::string bytes = testing::ReadFile(entry.path());
            seeds.Add(bytes);
            if (entry.file_size() <= kDamageSizeLimit)
                seeds.AddDamaged(bytes, 97, 30, seed++);
        }
    }
    std::printf("%d seeds in %s\n", seeds.count(), argv[2]);
    return 0;
}
