// Where a conversion writes, and the outputs it refuses to write: the rules every
// front end (the command line, sgltool, the Python module) applies the same way.
#pragma once

#include "common/conversion_error.h"

#include <string>
#include <string_view>

namespace ase2sgl {

// An output path that a conversion refuses to write, since writing it would lose
// data or land where no bundle belongs: what() reads "<output>: <reason>, sortie
// refusee". Nothing is written and the input is not read.
struct OutputRefused : ConversionError {
    OutputRefused(const std::string& path_, std::string_view reason_)
        : ConversionError(path_ + ": " + std::string(reason_) + ", sortie refusee"), path(path_), reason(reason_)
    {
    }

    std::string path;
    std::string reason;
};

// Without an output path the bundle goes next to the input: the input path less
// its last three bytes, then "sgl" (no dot is looked for: "model" gives "mosgl").
// A path of three bytes or fewer keeps nothing and gives "sgl".
std::string DefaultOutputPath(const std::string& inputPath);

// Refuses (OutputRefused) a default output path that lands among the host's devices
// or processes (/dev, /proc, /sys): an input such as /dev/stdin or a process
// substitution's /dev/fd/63 derives /dev/stsgl or /dev/fdsgl, which is no place
// for a bundle.
void CheckDefaultOutputPath(const std::string& outputPath);

// What writing an existing output would destroy: the input itself, or another
// scene's ASE text. kNone for anything else, and for a path that is no regular file
// (devices and pipes are written in place and replace nothing; a missing file or a
// folder is left to the write to report).
enum class OutputHazard { kNone, kIsTheInput, kHoldsAseText };
OutputHazard FindOutputHazard(const std::string& inputPath, const std::string& outputPath);

// Refuses (OutputRefused) an existing regular file at the output path that is the
// input itself (through any link or spelling), or that holds ASE text: a scene's
// source is never replaced by a bundle, as `ase2sgl *.ase` would do to the second
// file. Convert and ConvertBytesToFile call it before reading their input.
void CheckOutputPath(const std::string& inputPath, const std::string& outputPath);

// True when `head`, the first bytes of a file, opens as ASE text: after an optional
// byte order mark and white space, a "*" and a key of capitals, digits and "_"
// ended by white space ("*3DSMAX_ASCIIEXPORT\t200"), in 8-bit text or UTF-16 of
// either byte order (with or without a mark). A mesh bundle never opens so: its
// object count of at most 5000 puts no key character after a 0x2A first byte.
bool LooksLikeAseText(std::string_view head);

}  // namespace ase2sgl
