// The converter against the plain reference implementation, on scenes and real files
// damaged at random (fixed seeds): every output byte must agree. This guards the
// converter's shortcuts (remembered searches, runs cut at the end of the arrays,
// stopping once no object is left to fill) and any later speed-up.
#include "conversion/convert.h"
#include "support/reference_converter.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <sstream>

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

// The box's lists in other orders than the exporter's, whole ("TV": count line,
// braces and lines) or as bare lines ("tv"), with the normals block's opening line
// ("Nh") apart from its lines ("n"), and a second texture-vertex list of other
// values ("TV2"). The reading in file order must see each of these
// layouts as the searches from their own starting lines see it, and a layout it
// hands back must leave the carried face numbers as they were: each box's first
// face line does not scan whole, and keeps numbers from before it. A box of the
// exporter's layout follows, with texture lists and without.
TEST(Differential, ListsOutOfTheExportersOrderMatchTheReference)
{
    // The first face line stores one number, so that the box itself starts from the
    // numbers carried into it.
    const auto damageFirstFace = [](std::vector<std::string> lines) {
        const auto face = std::find_if(lines.begin(), lines.end(),
                                       [](const std::string& l) { return l.starts_with("\t\t\t*MESH_FACE "); });
        EXPECT_NE(face, lines.end());
        *face = "\t\t\t*MESH_FACE    0:    A:    0 B: x";
        return lines;
    };
    const std::vector<std::string> box = damageFirstFace(testing::MeshLines(BoxMesh("Odd")));
    MeshSpec otherTexture = BoxMesh("Odd");
    for (auto& uv : otherTexture.texVertices)
        uv = {uv[1] + 0.125f, uv[0]};
    const std::vector<std::string> otherBox = testing::MeshLines(otherTexture);
    const auto block = [&](std::string_view first, std::string_view last, bool bare,
                           const std::vector<std::string>& from) {
        auto begin =
            std::find_if(from.begin(), from.end(), [&](const std::string& l) { return l.starts_with(first); });
        auto end = std::find_if(begin, from.end(), [&](const std::string& l) { return l == last; });
        EXPECT_NE(end, from.end()) << first;
        return bare ? std::vector<std::string>(begin + 1 + (first == "\t\t*MESH_NUMTVERTEX" ||
                                                            first == "\t\t*MESH_NUMTVFACES"),
                                               end)
                    : std::vector<std::string>(begin, end + 1);
    };
    const std::map<std::string, std::vector<std::string>> parts = {
        {"V", block("\t\t*MESH_VERTEX_LIST", "\t\t}", false, box)},
        {"F", block("\t\t*MESH_FACE_LIST", "\t\t}", false, box)},
        {"TV", block("\t\t*MESH_NUMTVERTEX", "\t\t}", false, box)},
        {"TF", block("\t\t*MESH_NUMTVFACES", "\t\t}", false, box)},
        {"N", block("\t\t*MESH_NORMALS", "\t\t}", false, box)},
        {"v", block("\t\t*MESH_VERTEX_LIST", "\t\t}", true, box)},
        {"f", block("\t\t*MESH_FACE_LIST", "\t\t}", true, box)},
        {"tv", block("\t\t*MESH_NUMTVERTEX", "\t\t}", true, box)},
        {"tf", block("\t\t*MESH_NUMTVFACES", "\t\t}", true, box)},
        {"n", block("\t\t*MESH_NORMALS", "\t\t}", true, box)},
        {"Nh", {"\t\t*MESH_NORMALS {"}},
        {"TV2", block("\t\t*MESH_NUMTVERTEX", "\t\t}", false, otherBox)},
    };
    const std::vector<std::string> head(box.begin(),
                                        std::find(box.begin(), box.end(), "\t\t*MESH_VERTEX_LIST {"));
    const std::vector<std::string> tail(std::find(box.begin(), box.end(), "\t*PROP_MOTIONBLUR 0") - 1, box.end());
    ASSERT_EQ(tail.front(), "\t}");  // the end of the mesh block
    const std::string layouts[] = {
        "V F TV TF N", "V TV F TF N", "V Nh F TV TF n", "V N F TV TF", "V F TF TV N", "V F n",
        "V F TV Nh TF n", "V F TV TF n", "V F Nh TV TF n", "V TF F TV N", "V F N TV TF",
        "v f tv tf N", "v f tf tv N", "v tv f tf n", "V F tv Nh tf n", "V F TV n TF", "V f n tv tf",
        "V TV F TV2 TF N", "V TV2 F TF TV N",
    };
    MeshSpec nextBox = BoxMesh("Next");  // other values, so that reading the wrong list shows
    for (auto& normal : nextBox.vertexNormals)
        normal = {normal[1], normal[2], normal[0]};
    for (auto& uv : nextBox.texVertices)
        uv = {uv[0] + 0.5f, uv[1]};
    const std::vector<std::string> nexts[] = {
        damageFirstFace(testing::MeshLines(nextBox)),
        damageFirstFace(testing::MeshLines(testing::WithoutTextureLists(nextBox))),
    };
    std::set<std::string> outputs;
    for (const std::vector<std::string>& next : nexts)
    for (const std::string& layout : layouts) {
        std::vector<std::string> lines = head;
        std::istringstream names(layout);
        for (std::string name; names >> name;)
            lines.insert(lines.end(), parts.at(name).begin(), parts.at(name).end());
        lines.insert(lines.end(), tail.begin(), tail.end());
        lines.insert(lines.end(), next.begin(), next.end());
        const std::string source = testing::Lines(lines);
        const std::string ours = ConvertBytes(source);
        EXPECT_EQ(ours, testing::ReferenceConvert(source)) << layout;
        outputs.insert(ours);
    }
    EXPECT_GE(outputs.size(), 3u);  // the layouts give different bundles, not one
}

}  // namespace
}  // namespace ase2sgl
