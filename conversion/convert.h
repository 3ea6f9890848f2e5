// The conversion of one ASE file into one mesh bundle: the program's one entry
// into its readers and writers. Failures are thrown as the types of
// common/conversion_error.h, each with the line the driver prints.
#pragma once

#include <string>
#include <string_view>

namespace ase2sgl {

class PassObserver;
class ByteSink;

// How many threads read the geometry. The conversion chooses (for a large input, one
// per core the process may use, up to one per object and per 8 MiB of input; with two
// or three, the geometry is read while the count goes on); tests force one, two after
// the count, or two beside it, since the bytes written must not depend on it.
enum class GeometryThreads { kChosen, kOne, kTwo, kTwoBesideTheCount };

// Converts one ASE file into one mesh bundle file. The output appears only once it
// is complete; on failure (FileError, InputRefused, OutputRefused, std::bad_alloc)
// nothing is written at the output path and a file already there keeps its bytes.
// An output that is the input itself or holds ASE text is refused before anything
// is read (conversion/output_path.h). An input that cannot seek (a pipe, a FIFO)
// is first copied into an unnamed temporary file beside the output. An output
// that is a pipe or a device is written in place, as the bytes come.
void Convert(const std::string& inputPath, const std::string& outputPath,
             GeometryThreads threads = GeometryThreads::kChosen);

// The input's name in the messages of a conversion from bytes in memory.
inline constexpr const char* kMemoryInputName = "<memoire>";

// The same conversion from bytes in memory to bytes in memory. An observer, if
// given, is told what each read does (ase/pass_observer.h); the reads then run on
// one thread.
std::string ConvertBytes(std::string_view ase, PassObserver* observer = nullptr);
// The same, with the number of reading threads forced.
std::string ConvertBytes(std::string_view ase, GeometryThreads threads);

// The conversion of a file with its two reads observed (on one thread), the bundle
// handed to `output` as it is written: memory as the file route takes it, for any
// input size. `inputName` is the input's name in a refusal's message.
void ConvertObserved(const std::string& inputPath, const std::string& inputName, PassObserver& observer,
                     ByteSink& output);

// From bytes in memory (text made by another step, such as normalize) to a bundle
// file, written as Convert writes it: complete or not at all, and refused as Convert
// refuses when `inputName`, the input's path in messages, is the output file.
void ConvertBytesToFile(std::string_view ase, const std::string& inputName, const std::string& outputPath);

}  // namespace ase2sgl
