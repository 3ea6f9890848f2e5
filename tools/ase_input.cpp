// Reading ASE input for sgltool: whole files into memory, then the normalizer.
#include "tools/ase_input.h"

#include "tools/exit_status.h"

#include <fstream>
#include <sstream>

namespace ase2sgl::tools {

std::string ReadInput(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file)
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
