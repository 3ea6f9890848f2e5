// The process's side of the host: the arguments, the console streams, the
// readability test on the input, and clean-up when the user stops the run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::platform {

// Readies the process before the run: console streams pass bytes unchanged, and
// `cleanUp` runs when the run is ended from outside (Ctrl-C, a closed terminal or
// console window, SIGTERM), after which the process ends as it would have.
void PrepareProcess(void (*cleanUp)() noexcept);

// The command-line arguments after the program name. On POSIX the bytes of argv; on
// Windows the wide command line as UTF-8, so that paths of any characters work.
std::vector<std::string> Arguments(int argc, char** argv);

// Runs `run` with the arguments as Arguments gives them (UTF-8 on every host), in the
// argc/argv form a command-line parser takes; argv[0] stays the program's.
inline int RunWithArguments(int argc, char** argv, int (*run)(int, char**))
{
    std::vector<std::string> arguments = Arguments(argc, argv);
    std::vector<char*> pointers = {argv[0]};
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return run(static_cast<int>(arguments.size() + 1), pointers.data());
}

// The readability test on the input: on POSIX read permission, on Windows that the
// path names something (a file or a folder), whatever its attributes.
bool IsReadable(const std::string& path);

// Writes `text` to standard error in one write, without buffering. On Windows the
// UTF-8 of paths is written in the ANSI code page, the bytes the console tools of
// that system print; elsewhere the bytes go unchanged.
void WriteStandardError(std::string_view text);

}  // namespace ase2sgl::platform
