// The driver's run: everything the console shows and the exit status.
#include "driver/command_line.h"

#include "common/conversion_error.h"
#include "conversion/convert.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

namespace ase2sgl {

namespace {

// Standard error is unbuffered and tied to standard output: pending output goes
// first, so both streams reach a shared console in the order they were written.
// Each message is one write, so lines from parallel runs do not interleave.
void WriteError(const std::string& text)
{
    std::fflush(stdout);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nowhere left to report to
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::string DefaultOutputPath(const std::string& inputPath)
{
    const std::size_t kept = inputPath.size() > 3 ? inputPath.size() - 3 : 0;
    return inputPath.substr(0, kept) + "sgl";
}

int RunConverter(int argc, char** argv)
{
    const std::string inputPath = argc > 1 ? argv[1] : "";
    if (inputPath.empty() || ::access(inputPath.c_str(), R_OK) != 0)
        return 1;
    std::string outputPath = argc > 2 ? argv[2] : "";
    if (outputPath.empty())
        outputPath = DefaultOutputPath(inputPath);

    // Paths are printed as bytes; a "%" in one is just a byte.
    WriteError("Conversion de " + inputPath + " -> " + outputPath + "\n");
    try {
        Convert(inputPath, outputPath);
    } catch (const ConversionError& error) {
        WriteError(std::string("Erreur: ") + error.what() + "\n");
        return 3;
    } catch (const std::bad_alloc&) {
        WriteError("Erreur: memoire insuffisante pour convertir " + inputPath + "\n");
        return 3;
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
    std::fputs("Conversion termine", stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    return 0;
}

}  // namespace ase2sgl
