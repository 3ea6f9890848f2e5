// Helpers shared by the tests: ASE text built from lines or from mesh data in the
// exporter's layout, float bits, files in a scratch folder, and running the real
// executable.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::testing {

// A bundle read through the reader library (bundle/bundle_reader.h), its arrays
// copied out so that tests compare them as vectors.
struct BundleObject {
    std::string name;  // up to the first zero byte of the name field
    std::vector<float> positions, normals, texcoords;
    std::int32_t VertexCount() const { return static_cast<std::int32_t>(positions.size() / 3); }
};

struct Bundle {
    std::vector<BundleObject> objects;
    std::string problem;  // empty when the layout is sound, else the reader's error and offset
};

Bundle ParseBundle(std::string_view bytes);

// Lines joined with LF (or `lineEnd`), each ended by one.
std::string Lines(std::initializer_list<std::string_view> lines);
std::string Lines(const std::vector<std::string>& lines, std::string_view lineEnd = "\n");
// The lines of `text`, split at LF (which is dropped); a last line without one too.
std::vector<std::string> SplitLines(std::string_view text);
// The lists of lines one after the other.
std::vector<std::string> Concat(const std::vector<std::vector<std::string>>& parts);
// `text` with every `from` replaced by `to`.
std::string Replace(std::string text, std::string_view from, std::string_view to);
// ASCII text as UTF-16 (little- or big-endian), with or without a byte order mark.
std::string Utf16(std::string_view ascii, bool littleEndian, bool byteOrderMark);

std::uint32_t Bits(float value);
float FromBits(std::uint32_t bits);

// One mesh in the layout 3ds Max's ASCII exporter writes (tabs, "%4d" vertex and
// face numbers, "%.4f" values). Lists left empty are left out of the block.
struct MeshSpec {
    std::string name = "Box01";
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::array<int, 3>> faces;
    std::vector<std::array<float, 2>> texVertices;  // u, v (w written as 0)
    std::vector<std::array<int, 3>> texFaces;
    std::vector<std::array<float, 3>> vertexNormals;  // three per face, in face order
    bool normalsBlock = true;                         // write *MESH_NORMALS even if empty
};
std::vector<std::string> MeshLines(const MeshSpec& mesh);
std::string Scene(const std::vector<MeshSpec>& meshes);
// The eight-vertex, twelve-face box with twelve texture vertices, every list present.
MeshSpec BoxMesh(std::string name = "Box01");
// The same mesh with its texture-vertex and texture-face lists left out.
MeshSpec WithoutTextureLists(MeshSpec mesh);
// The same mesh with no normals block at all.
MeshSpec WithoutNormalsBlock(MeshSpec mesh);

// A bundle written field by field, for readers' tests: each record's name (cut or
// not, as given; the field is zero-filled), vertex count and the three arrays as
// given (positions and normals 3 per vertex, texture coordinates 2).
struct RecordSpec {
    std::string name;
    std::int32_t vertexCount = 0;
    std::vector<float> positions, normals, texcoords;
};
std::string EncodeBundle(const std::vector<RecordSpec>& records);
std::string Int32Bytes(std::int32_t value);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// A fresh folder, removed with everything in it when the test ends.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

struct RunResult {
    int exitStatus = -1;  // or 128 + signal
    std::string out, err;
};
// Runs the ase2sgl executable with these arguments in `workingDir`; with a
// `standardInput` descriptor, the tool reads that as its standard input.
RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& workingDir = ".",
                  int standardInput = -1);
// Any executable, the same way.
RunResult RunProgram(const std::string& executable, const std::vector<std::string>& args,
                     const std::filesystem::path& workingDir = ".", int standardInput = -1);

// True when this Windows program runs under Wine (its ntdll has wine_get_version).
// Wine takes each wait on or wake of another thread through its server process, a
// thousand times the cost on Windows: sweeps that hand work between threads at every
// step thin their two-thread cases there (the Linux builds run them in full).
bool UnderWine();

#ifndef _WIN32  // POSIX only: the tests that use it send signals and set resource limits
// The sanitizers reserve terabytes of address space at start-up, so a tool built with
// them cannot start under a low address-space limit. Tests and tool share the build.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// The ase2sgl executable (or another one) started and left running, for tests that
// act on it while it converts. Its address space can be limited (bytes; 0 for no
// limit), set in the child before the executable starts; a `standardInput`
// descriptor becomes its standard input. Destroyed before Wait, it is killed.
class ToolProcess {
  public:
    // `executable`: another program than ase2sgl (sgltool), when not empty.
    ToolProcess(const std::vector<std::string>& args, const std::filesystem::path& workingDir,
                std::uint64_t addressSpaceLimit = 0, const std::string& executable = "", int standardInput = -1);
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    ~ToolProcess();
    int pid() const { return pid_; }
    // Collects the output until the process ends, and its status.
    RunResult Wait();

  private:
    int pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
};
#endif

// The corpus of real exporter files, or an empty path when it is not there.
std::filesystem::path CorpusDir();
// Its .ase files in name order; none when the corpus is not there.
std::vector<std::filesystem::path> CorpusFiles();

}  // namespace ase2sgl::testing
