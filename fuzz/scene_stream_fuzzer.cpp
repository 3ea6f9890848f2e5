// Fuzz target of the tolerant reader fed a piece at a time: any bytes, read a few
// bytes at a time (the first byte of the input picks how many, whether they are
// read and cut on a thread of their own, the nodes then written on a third, and
// whether the bytes are taken in place after the first read, as a mapped file's are),
// must give the nodes, notes and facts of the same bytes read whole, and
// normalize to the same text and report. Piece ends fall everywhere: inside CR LF pairs, UTF-16 code
// units and surrogate pairs, quoted strings, statements, blocks. Anything else, and
// any sanitizer report, aborts.
//
// Build and seeds as for convert_fuzzer (cmake --preset fuzz; the fuzz_seeds target).
// Run for a minute on one core:
//   mkdir -p build/fuzz/stream_corpus
//   build/fuzz/fuzz/scene_stream_fuzzer -dict=fuzz/ase.dict -max_len=65536 -timeout=10 \
//       -rss_limit_mb=4096 -max_total_time=60 build/fuzz/stream_corpus build/fuzz/seeds
#include "normalize/normalize.h"
#include "tolerant/scene.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace tl = ase2sgl::tolerant;
namespace nz = ase2sgl::normalize;

[[noreturn]] void Fail(const char* what, std::size_t readBytes, tl::ReadThreads threads, bool inPlace)
{
    std::fprintf(stderr, "scene_stream_fuzzer: %s (read %zu bytes at a time%s%s)\n", what, readBytes,
                 threads == tl::ReadThreads::kTwo ? ", on threads of their own" : "", inPlace ? ", in place" : "");
    __builtin_trap();
}

// What the reader keeps of a node, short of its values' text (which the
// normalized text compares).
std::string Digest(const tl::SceneNode& node)
{
    const tl::MeshLists& m = node.mesh;
    std::string text = std::to_string(static_cast<int>(node.kind)) + " " + std::string(node.keyword) + " " +
                       std::string(node.name) + " " + std::to_string(node.named) + " " + std::to_string(node.line) +
                       " " + std::to_string(node.groupLine) + " " + std::to_string(node.hasMesh) + " " +
                       std::to_string(node.meshLine) + " " + std::to_string(node.hasTransform);
    for (const std::size_t count : {m.vertices.size(), m.texVertices.size(), m.faces.size(), m.texFaces.size(),
                                    m.faceNormals.size(), m.vertexNormals.size()})
        text += " " + std::to_string(count);
    // Face lines in full.
    for (const tl::FaceLine& face : m.faces) {
        text += " @" + std::to_string(face.line) + " " + std::to_string(face.number);
        for (const std::int64_t corner : face.corner)
            text += " " + std::to_string(corner);
        for (const std::string_view edge : face.edge)
            text += " " + std::string(edge);
    }
    return text;
}

std::string Facts(const tl::Scene& scene)
{
    std::string text = std::string(tl::DialectName(scene.dialect)) + tl::EncodingName(scene.encoding) +
                       tl::LineEndsName(scene.lineEnds) + std::to_string(scene.stoppedAtCtrlZ);
    for (const tl::Note& note : scene.notes)
        text += "\n" + std::to_string(note.line) + note.text;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t readBytes = 1 + data[0] % 32;
    const tl::ReadThreads threads = (data[0] & 0x80) != 0 ? tl::ReadThreads::kTwo : tl::ReadThreads::kOne;
    const bool inPlace = (data[0] & 0x40) != 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    const tl::AseRead whole = tl::ReadAse(input);
    std::vector<std::string> expected;
    for (const tl::SceneNode& node : whole.scene.nodes)
        expected.push_back(Digest(node));
    std::vector<std::string> streamed;
    tl::MemorySource source(input, inPlace);
    const tl::Scene scene = tl::StreamAse(
        source, [&](tl::SceneNode& node) { streamed.push_back(Digest(node)); }, readBytes, threads);
    if (streamed != expected)
        Fail("nodes differ from the whole text's", readBytes, threads, inPlace);
    if (Facts(scene) != Facts(whole.scene))
        Fail("notes or facts differ from the whole text's", readBytes, threads, inPlace);

    nz::NormalizeOptions options;
    options.keepOtherNodes = true;
    options.threads = tl::ReadThreads::kOne;
    const nz::NormalizeResult once = nz::Normalize(input, options);
    options.readBytes = readBytes;
    options.threads = threads;
    std::string text;
    tl::MemorySource again(input, inPlace);
    const nz::NormalizeResult pieces = nz::NormalizeFrom(
        again, [&](std::string_view piece) { text += piece; }, options);
    if (once.ok != pieces.ok || (once.ok && text != once.text))
        Fail("normalized text differs", readBytes, threads, inPlace);
    if (once.ok && nz::DescribeReport(once.report) != nz::DescribeReport(pieces.report))
        Fail("normalize report differs", readBytes, threads, inPlace);
    return 0;
}
