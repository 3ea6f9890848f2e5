// `sgltool check`: whether each file is a sound bundle, and if not, the reader's
// first fault and its byte offset.
#include "tools/loaded_bundle.h"
#include "tools/subcommands.h"

#include <algorithm>
#include <iostream>
#include <memory>

namespace ase2sgl::tools {

namespace {

// Exit 3 when some file cannot be read (it wins over 1), 1 when some file is not a sound bundle.
int Check(const std::vector<std::string>& paths)
{
    int status = kExitOk;
    for (const std::string& path : paths) {
        bundle::MappedFile file;
        bundle::ReadStatus read = file.Open(path.c_str());
        if (!read) {
            ReportError(DescribeStatus(path, read));
            status = kExitFile;
            continue;
        }
        bundle::Bundle reader;
        read = reader.Open(file.Bytes());
        if (!read) {
            ReportError(DescribeStatus(path, read));
            status = std::max(status, kExitNo);
            continue;
        }
        std::cout << path << ": sound bundle, " << reader.ObjectCount()
                  << (reader.ObjectCount() == 1 ? " object, " : " objects, ") << file.Bytes().size() << " bytes\n";
    }
    return status;
}

}  // namespace

Subcommand AddCheckCommand(CLI::App& app)
{
    auto files = std::make_shared<std::vector<std::string>>();
    CLI::App* command = app.add_subcommand("check",
                                           "Check that each file is a sound bundle; name the first fault "
                                           "and its byte offset otherwise");
    command->add_option("files", *files, "Bundle files")->required();
    command->footer(kExitStatusHelp);
    return {command, [files] { return Check(*files); }};
}

}  // namespace ase2sgl::tools
