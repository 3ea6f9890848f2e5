// The converter against the plain reference implementation, on scenes and real files
// damaged at random (fixed seeds): every output byte must agree. This guards the
// converter's shortcuts (remembered searches, runs cut at the end of the arrays,
// stopping once no object is left to fill) and any later speed-up.
#include "conversion/convert.h"
#include "support/reference_converter.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace ase2sgl {
namespace {

using testing::BoxMesh;
using testing::MeshSpec;

// One random edit of the kind broken exports and hand edits show.
void Mutate(std::vector<std::string>& lines, std::mt19937& random)
{
    if (lines.empty())
        return;
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const std::size_t i = pick(lines.size());
    std::string& line = lines[i];
    switch (pick(12)) {
    case 0: lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i)); break;
    case 1: lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), line); break;
    case 2:
        if (i + 1 < lines.size())
            std::swap(lines[i], lines[i + 1]);
        break;
    case 3: lines.resize(i); break;  // cut
    case 4: line.insert(0, "\t"); break;
    case 5:
        if (!line.empty())
            line.erase(0, 1);
        break;
    case 6: {  // renumber or damage a number
        static const char* const kReplacements[] = {"7", "-1", "99999", "2147483648", "x", "", "1e39", "00"};
        const std::size_t digit = line.find_first_of("0123456789");
        if (digit != std::string::npos)
            line.replace(digit, 1, kReplacements[pick(8)]);
        break;
    }
    case 7: line.insert(pick(line.size() + 1), 1, '\x1A'); break;
    case 8: line.insert(pick(line.size() + 1), 1, '\0'); break;
    case 9: line += '\r'; break;
    case 10: line += "\r\r"; break;
    case 11: {  // move a line far away
        std::string moved = line;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pick(lines.size() + 1)), moved);
        break;
    }
    }
}

std::vector<std::string> Sources()
{
    MeshSpec bare = BoxMesh("Bare");
    bare.texVertices.clear();
    bare.texFaces.clear();
    bare.normalsBlock = false;
    bare.vertexNormals.clear();
    MeshSpec moreTex = BoxMesh("MoreTex");
    moreTex.texVertices.resize(20, {0.5f, 0.5f});
    std::vector<std::string> sources = {
        testing::Scene({BoxMesh()}),
        testing::Scene({BoxMesh("a"), bare, BoxMesh("c")}),
        testing::Scene({bare, moreTex, bare}),
        testing::Scene({moreTex, BoxMesh("b")}),
    };
    const std::filesystem::path corpus = testing::CorpusDir();
    if (!corpus.empty()) {
        for (const char* name : {"d_single_triangle.ase", "d_tiles_two_mat.ase", "a_three_cubes.ase",
                                 "a_camroll_child.ase", "d_exploded_cube.ase", "x_invalid_uv_index.ase"})
            sources.push_back(testing::ReadFile(corpus / name));
    }
    return sources;
}

TEST(Differential, UndamagedInputsMatchTheReference)
{
    for (const std::string& source : Sources())
        EXPECT_EQ(ConvertBytes(source), testing::ReferenceConvert(source));
    const std::filesystem::path corpus = testing::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "corpus files not checked: no corpus at " << ASE2SGL_CORPUS_DIR;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string bytes = testing::ReadFile(entry.path());
        EXPECT_EQ(ConvertBytes(bytes), testing::ReferenceConvert(bytes)) << entry.path();
    }
}

TEST(Differential, DamagedInputsMatchTheReference)
{
    const std::vector<std::string> sources = Sources();
    std::mt19937 random(20261208);
    for (int round = 0; round < 1500; ++round) {
        const std::string& source = sources[static_cast<std::size_t>(round) % sources.size()];
        std::vector<std::string> lines = testing::SplitLines(source);
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e)
            Mutate(lines, random);
        const std::string_view ends[] = {"\n", "\r\n", "\r"};
        const std::string damaged = testing::Lines(lines, ends[random() % 8 == 0 ? 1 + random() % 2 : 0]);
        const std::string ours = ConvertBytes(damaged);
        const std::string reference = testing::ReferenceConvert(damaged);
        ASSERT_EQ(ours, reference) << "round " << round << ", input:\n" << damaged;
        ASSERT_EQ(testing::ParseBundle(ours).problem, "") << "round " << round;
    }
}

}  // namespace
}  // namespace ase2sgl
