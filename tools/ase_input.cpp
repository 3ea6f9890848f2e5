// Reading ASE input for sgltool: whole files into memory (lint), or a piece at a
// time through the normalizer (normalize, convert).
#include "tools/ase_input.h"

#include "tools/exit_status.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>

namespace ase2sgl::tools {

namespace {

// A folder opens as a stream on some systems and reads as no bytes: say so instead.
void RefuseFolder(const std::string& path)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw ToolError(path + ": cannot be read: it is a folder", kExitFile);
}

}  // namespace

std::string ReadInput(const std::string& path)
{
    RefuseFolder(path);
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ToolError(path + ": cannot be read", kExitFile);
    // An empty file is an empty scene, not a failure: copying no bytes at all
    // would mark the string stream failed, so it is not asked to.
    std::ostringstream bytes;
    if (file.peek() != std::ifstream::traits_type::eof())
        bytes << file.rdbuf();
    if (file.bad() || !bytes)
        throw ToolError(path + ": cannot be read", kExitFile);
    return std::move(bytes).str();
}

InputFile::InputFile(const std::string& path, const std::string& what) : path_(path)
{
    RefuseFolder(path);
    // The size mapped is the size at opening: a file that grows meanwhile is read
    // as it was, one cut shorter fails at Done().
    if (handle_.Open(path) == 0 && handle_.Seekable() && handle_.Size() > 0 &&
        handle_.Size() <= std::numeric_limits<std::size_t>::max() && mapped_.Map(handle_, handle_.Size())) {
        progress_ = std::make_unique<ProgressLine>(what, handle_.Size());
        return;
    }
    handle_.Close();
    file_.open(path, std::ios::binary);
    if (!file_)
        throw ToolError(path + ": cannot be read", kExitFile);
    // The size is only for the progress line: a pipe has none, and shows bytes read.
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    progress_ = std::make_unique<ProgressLine>(what, error ? 0 : static_cast<std::uint64_t>(size));
}

std::size_t InputFile::Read(char* buffer, std::size_t size)
{
    std::size_t got = 0;
    if (mapped_.Mapped()) {
        got = static_cast<std::size_t>(std::min<std::uint64_t>(size, mapped_.Size() - done_));
        std::memcpy(buffer, mapped_.Data() + done_, got);
        Passed(done_, done_ + got);
    } else {
        file_.read(buffer, static_cast<std::streamsize>(size));
        if (file_.bad())
            throw ToolError(path_ + ": cannot be read", kExitFile);
        got = static_cast<std::size_t>(file_.gcount());
    }
    done_ += got;
    progress_->Update(done_);
    return got;
}

std::string_view InputFile::InPlace() const
{
    if (!mapped_.Mapped())
        return {};
    return {mapped_.Data(), static_cast<std::size_t>(mapped_.Size())};
}

void InputFile::TakenInPlace(std::size_t end)
{
    done_ = end;
    progress_->Update(done_);
}

void InputFile::PassedInPlace(std::size_t offset, std::size_t length) const noexcept
{
    Passed(offset, std::uint64_t{offset} + length);
}

// The bytes come back mostly in order (a stretch still held by a node being written
// comes after the ones behind it); those that come early wait until the bytes before
// them are back too. Each release then runs from the page the last one ended in
// (given back now that all of it has been passed) to the end of what is back in
// order, so that every page is given back once.
void InputFile::Passed(std::uint64_t offset, std::uint64_t end) const noexcept
{
    const std::lock_guard lock(releasing_);
    if (offset > released_) {
        try {
            early_.emplace(offset, end);
        } catch (...) {
            // No memory to note it in: its pages stay until the file is closed.
        }
        return;
    }
    std::uint64_t upTo = std::max(released_, end);
    while (!early_.empty() && early_.begin()->first <= upTo) {
        upTo = std::max(upTo, early_.begin()->second);
        early_.erase(early_.begin());
    }
    if (upTo == released_)
        return;
    const std::uint64_t from = released_ / kPageBytes * kPageBytes;
    mapped_.Release(from, upTo - from);
    released_ = upTo;
}

void InputFile::Done()
{
    progress_->Clear();
    if (mapped_.Cut())
        throw ToolError(path_ + ": cannot be read: the file was cut shorter while it was read", kExitFile);
}

normalize::NormalizeResult NormalizeFile(InputFile& input, const normalize::BufferSink& sink, bool keepOtherNodes,
                                         normalize::MeshTarget* meshes)
{
    normalize::NormalizeOptions options;
    options.keepOtherNodes = keepOtherNodes;
    options.meshes = meshes;
    normalize::NormalizeResult result = normalize::NormalizeFrom(input, sink, options);
    input.Done();
    if (!result.ok)
        throw ToolError(input.Path() + ": " + result.error, kExitFile);
    return result;
}

normalize::NormalizeResult NormalizeFile(InputFile& input, const normalize::TextSink& sink, bool keepOtherNodes,
                                         normalize::MeshTarget* meshes)
{
    return NormalizeFile(
        input, normalize::BufferSink([&sink](TextBuffer& piece) { sink(piece.View()); }), keepOtherNodes, meshes);
}

}  // namespace ase2sgl::tools
