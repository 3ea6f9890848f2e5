// ASE input of the subcommands that read ASE text (normalize, lint, convert):
// the file's bytes whole, or the file read a piece at a time and normalized into
// the layout ase2sgl reads as it is read.
#pragma once

#include "normalize/normalize.h"
#include "platform/input_file.h"
#include "platform/mapped_input.h"
#include "tolerant/scene.h"
#include "tools/progress.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ase2sgl::tools {

// The file's bytes; throws ToolError (kExitFile) when it cannot be read or is a folder.
std::string ReadInput(const std::string& path);

// A file read front to back, a piece at a time, with a progress line (see
// progress.h) named `what`. Opening and reading throw ToolError (kExitFile) naming
// the file when it cannot be read or is a folder. A regular file is mapped: its
// text is then read where it lies in the file cache, not copied out of it, and the
// pages passed are given back as the reading goes on.
class InputFile : public tolerant::ByteSource {
  public:
    InputFile(const std::string& path, const std::string& what);
    std::size_t Read(char* buffer, std::size_t size) override;
    std::string_view InPlace() const override;
    void TakenInPlace(std::size_t end) override;
    void PassedInPlace(std::size_t offset, std::size_t length) const noexcept override;
    const std::string& Path() const { return path_; }
    // The reading is over: the progress line goes, before the result is printed.
    // Throws ToolError when the file was cut shorter while it was mapped (the bytes
    // past the cut read as zeros).
    void Done();

  private:
    std::string path_;
    platform::InputFile handle_;
    platform::MappedInput mapped_;
    std::ifstream file_;  // where the file is not mapped (a pipe, a FIFO)
    // Bytes read or passed in place: those before released_ have been given back,
    // but for the page it lies in (of 64 KiB at most: each release starts that far
    // back, to take it in); early_ holds the stretches passed beyond a gap.
    void Passed(std::uint64_t offset, std::uint64_t end) const noexcept;
    static constexpr std::uint64_t kPageBytes = 65536;
    mutable std::mutex releasing_;
    mutable std::uint64_t released_ = 0;
    mutable std::map<std::uint64_t, std::uint64_t> early_;
    std::uint64_t done_ = 0;
    std::unique_ptr<ProgressLine> progress_;
};

// The file normalized, its text handed to `sink` as it is written (its meshes to
// `meshes` instead, when given); throws ToolError (kExitFile) naming the file when
// it cannot be read or is refused (then what the sink was given is to be thrown away).
// The sink takes the text as views, or in the buffers it is written in.
normalize::NormalizeResult NormalizeFile(InputFile& input, const normalize::TextSink& sink, bool keepOtherNodes,
                                         normalize::MeshTarget* meshes = nullptr);
normalize::NormalizeResult NormalizeFile(InputFile& input, const normalize::BufferSink& sink, bool keepOtherNodes,
                                         normalize::MeshTarget* meshes = nullptr);

}  // namespace ase2sgl::tools
