// Reading ASE input for sgltool: whole files into memory, then the normalizer.
#include "tools/ase_input.h"

#include "tools/exit_status.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace ase2sgl::tools {

std::string ReadInput(const std::string& path)
{
    // A folder opens as a stream on some systems and reads as no bytes: say so instead.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw ToolError(path + ": cannot be read: it is a folder", kExitFile);
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ToolError(path + ": cannot be read", kExitFile);
    // An empty file is an empty scene, not a failure: copying no bytes at all
    // would mark the string stream failed, so it is not asked to.
    std::ostringstream bytes;
    if (file.peek() != std::ifstream::traits_type::eof())
        bytes << file.rdbuf();
    if (file.bad() || !bytes)
        throw ToolError(path + ": cannot be read", kExitFile);
    return std::move(bytes).str();
}

normalize::NormalizeResult NormalizeInput(const std::string& path, bool keepOtherNodes)
{
    normalize::NormalizeResult result = normalize::Normalize(ReadInput(path), {keepOtherNodes});
    if (!result.ok)
        throw ToolError(path + ": " + result.error, kExitFile);
    return result;
}

}  // namespace ase2sgl::tools
