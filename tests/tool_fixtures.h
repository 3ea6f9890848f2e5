// What the sgltool tests share: bundles of the corpus and of generated scenes in a
// scratch folder, running sgltool, and running the node checkers.
#pragma once

#include "conversion/convert.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace ase2sgl::testing {

// The corpus files converted into `dir`, as (name, bundle path); empty without the corpus.
inline std::vector<std::filesystem::path> CorpusBundles(const ScratchDir& dir)
{
    std::vector<std::filesystem::path> bundles;
    const std::filesystem::path corpus = CorpusDir();
    if (corpus.empty())
        return bundles;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".ase")
            continue;
        const std::filesystem::path bundle = dir / (entry.path().stem().string() + ".sgl");
        WriteFile(bundle, ConvertBytes(ReadFile(entry.path())));
        bundles.push_back(bundle);
    }
    std::sort(bundles.begin(), bundles.end());
    return bundles;
}

inline RunResult RunSgltool(const std::vector<std::string>& args, const std::filesystem::path& workingDir = ".")
{
    return RunProgram(SGLTOOL_EXE, args, workingDir);
}

// node with the test tools' node_modules (tests/node/package.json, installed by
// .ci/run), or an empty string when either is missing.
inline std::string NodeModules()
{
#ifdef _WIN32
    // Built for Windows, the tests run under Wine and would hand Windows paths to the
    // host's node: the checkers run with the Linux suite instead.
    return "";
#endif
    const char* override = std::getenv("ASE2SGL_NODE_MODULES");
    const std::filesystem::path modules = override != nullptr ? override : ASE2SGL_NODE_MODULES;
    if (std::string(ASE2SGL_NODE).empty() || !std::filesystem::exists(modules / "gltf-validator") ||
        !std::filesystem::exists(modules / "ajv"))
        return "";
    return modules.string();
}

// Runs one of the scripts in tests/node, which take the node_modules folder first.
inline RunResult RunNodeScript(const std::string& script, const std::vector<std::string>& args)
{
    std::vector<std::string> all = {std::string(ASE2SGL_SOURCE_DIR) + "/tests/node/" + script, NodeModules()};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(ASE2SGL_NODE, all);
}

}  // namespace ase2sgl::testing
