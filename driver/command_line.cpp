// The driver's run: everything the console shows and the exit status.
#include "driver/command_line.h"

#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "conversion/output_path.h"
#include "platform/file_identity.h"
#include "platform/process.h"

#include <cstdio>
#include <new>
#include <string>

namespace ase2sgl {

namespace {

// Standard error is unbuffered and tied to standard output: pending output goes
// first, so both streams reach a shared console in the order they were written.
// Each message is one write, so lines from parallel runs do not interleave.
void WriteError(const std::string& text)
{
    std::fflush(stdout);
    platform::WriteStandardError(text);
}

// "\n", "Conversion termine", "\n": on standard output, flushed after each line
// end; on standard error, in one write, when the bundle went to standard output.
void WriteCompletion(bool bundleOnStandardOutput)
{
    if (bundleOnStandardOutput) {
        WriteError("\nConversion termine\n");
        return;
    }
    std::fputs("\n", stdout);
    std::fflush(stdout);
    std::fputs("Conversion termine", stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

}  // namespace

int RunConverter(int argc, char** argv)
{
    const std::string inputPath = argc > 1 ? argv[1] : "";
    if (inputPath.empty() || !platform::IsReadable(inputPath))
        return 1;
    std::string outputPath = argc > 2 ? argv[2] : "";
    const bool derived = outputPath.empty();
    if (derived)
        outputPath = DefaultOutputPath(inputPath);
    const bool bundleOnStandardOutput = platform::IsStandardOutput(outputPath);

    // Paths are printed as bytes; a "%" in one is just a byte.
    WriteError("Conversion de " + inputPath + " -> " + outputPath + "\n");
    try {
        if (derived)
            CheckDefaultOutputPath(outputPath);
        Convert(inputPath, outputPath);
    } catch (const ConversionError& error) {
        WriteError(std::string("Erreur: ") + error.what() + "\n");
        return 3;
    } catch (const std::bad_alloc&) {
        WriteError("Erreur: memoire insuffisante pour convertir " + inputPath + "\n");
        return 3;
    }
    WriteCompletion(bundleOnStandardOutput);
    return 0;
}

}  // namespace ase2sgl
