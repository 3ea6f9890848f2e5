// `sgltool diff`: two bundles compared object by object; exit 1 when they differ
// by more than the tolerance.
#include "tools/bundle_diff.h"
#include "tools/subcommands.h"

#include <iostream>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct DiffOptions {
    std::string pathA, pathB;
    double tolerance = 0;
};

int Diff(const DiffOptions& options)
{
    LoadedBundle a, b;
    LoadBundle(options.pathA, a);
    LoadBundle(options.pathB, b);
    const BundleDiff diff = DiffBundles(a, b);
    PrintDiff(diff, a, b, options.tolerance, std::cout);
    return diff.Equal(options.tolerance) ? kExitOk : kExitNo;
}

}  // namespace

Subcommand AddDiffCommand(CLI::App& app)
{
    auto options = std::make_shared<DiffOptions>();
    CLI::App* command = app.add_subcommand("diff",
                                           "Compare two bundles: objects added, removed, renamed or changed, "
                                           "with the largest differences and where they are");
    command->add_option("a", options->pathA, "First bundle")->required();
    command->add_option("b", options->pathB, "Second bundle")->required();
    command
        ->add_option("--tolerance", options->tolerance,
                     "Largest difference of a value still counted as equal (default 0)")
        ->check(CLI::NonNegativeNumber);
    command->footer(kExitStatusHelp);
    return {command, [options] { return Diff(*options); }};
}

}  // namespace ase2sgl::tools
