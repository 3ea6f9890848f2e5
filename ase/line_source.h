// LineSource: the converter's only access to the ASE input, read line by line the
// way a text-mode C runtime hands it out; and the two operations both passes use on
// a line: recognise it by a key prefix (StartsWith), read values out of it (ScanLine).
#pragma once

#include "ase/scan_fields.h"
#include "platform/input_file.h"
#include "platform/mapped_input.h"

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace ase2sgl {

// Reads a file (or bytes in memory) through one reused buffer and hands out each
// line as a view into it; the view stays valid until the next ReadLine, SeekTo or
// Rewind.
//
// Text mode, as the passes see the input:
//   - a line ends at LF, which is not part of it; a CR directly before that LF is
//     dropped, any other CR stays in the line (CR CR LF keeps one CR, a CR-only file
//     is one long line, a CR at the very end stays);
//   - a 0x1A byte is the end of the input: the bytes before it form the last line,
//     Tell stays on it, and every later read reports the end until SeekTo/Rewind;
//   - NUL and bytes 0x80-0xFF are ordinary bytes.
// Lines have no length limit: the buffer grows to the longest line and no further.
// Positions are 64-bit byte offsets, so inputs over 2 GiB read like any other.
//
// The bytes held are a window onto the input: for bytes in memory, and for a file of
// a chunk or more where the host can map it, the window is the input itself, moved
// along it with nothing copied; otherwise it is a buffer the file is read into. A
// mapped file that another program cuts shorter while it is read fails as a read
// would ("impossible de lire"), once the reading reaches bytes that are gone.
//
// Both passes read the input from its start, so a file is read at offsets. An input
// that cannot seek (a pipe, a FIFO, a socket, a terminal) is copied, when it is
// opened, into a temporary file without a name, and from there on is read as that
// file: the same bytes, at the same cost, in the same memory as a file named directly.
class LineSource {
  public:
    static constexpr std::size_t kDefaultChunk = std::size_t{1} << 20;
    // How a file is read: mapped where it can be, or always read into the buffer.
    enum class Access { kMapWherePossible, kReadIntoBuffer };

    // Opens a file read-only. Throws FileError ("impossible d'ouvrir") when it cannot
    // be opened or is a directory. An input that cannot seek is copied into an
    // unnamed file in `spoolFolder` (where that fails, or when it is empty, in the
    // host's temporary folder); a failure there throws FileError too ("impossible de
    // lire" the input, or "impossible de creer"/"d'ecrire" the temporary file).
    explicit LineSource(const std::string& path, std::size_t chunkSize = kDefaultChunk,
                        const std::string& spoolFolder = {}, Access access = Access::kMapWherePossible);
    // Reads from bytes in memory (tests, the fuzzer). The bytes must outlive the source.
    static LineSource FromMemory(std::string_view bytes, std::size_t chunkSize = kDefaultChunk);
    // Another source over the same input, reading from its start: the file opened
    // again, the copy of an input that could not seek, or the same bytes in memory.
    // Works after Close.
    LineSource Reopen() const;

    LineSource(LineSource&&) noexcept;
    LineSource& operator=(LineSource&&) noexcept;
    ~LineSource();

    // Gives the next line; false only at the end of the input, with an empty line.
    // Throws FileError ("impossible de lire") when a read fails.
    bool ReadLine(std::string_view& line)
    {
        // The common case inline: the line ends within the bytes held.
#if defined(__SSE2__) || defined(_M_X64)
        // A list line is 30 to 120 bytes: its end is looked for 16 bytes at a time
        // here, where a library search would cost a call and its set-up a line.
        const char* const base = data_;
        std::size_t at = cursor_;
        const __m128i lineFeed = _mm_set1_epi8('\n');
        for (int block = 0; block < 8 && end_ - at >= 16; ++block, at += 16) {
            const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(
                _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at)), lineFeed)));
            if (bits != 0) {
                TakeLine(at + static_cast<std::size_t>(std::countr_zero(bits)), line);
                return true;
            }
        }
        if (at < end_) {
            if (const void* found = std::memchr(base + at, '\n', end_ - at)) {
                TakeLine(static_cast<std::size_t>(static_cast<const char*>(found) - base), line);
                return true;
            }
        }
#else
        if (cursor_ < end_) {
            if (const void* found = std::memchr(data_ + cursor_, '\n', end_ - cursor_)) {
                TakeLine(static_cast<std::size_t>(static_cast<const char*>(found) - data_), line);
                return true;
            }
        }
#endif
        return ReadLineAfterHeldBytes(line);
    }
    // Gives the next line that begins with `prefix` (two bytes or more, neither a
    // line feed), as ReadLine gives it; the lines before it are read and passed
    // over. False at the end of the input. What ReadLine and StartsWith in a loop do,
    // with the lines between tested many at a time where the bytes are held.
    bool ReadLineStartingWith(std::string_view prefix, std::string_view& line);
    // Offset of the first byte of the line last handed out.
    std::int64_t LineStart() const { return lineStart_; }
    // Offset of the first byte the next ReadLine reads.
    std::int64_t Tell() const { return bufferOffset_ + static_cast<std::int64_t>(cursor_); }
    // Resumes reading at a position taken with Tell.
    void SeekTo(std::int64_t position);
    void Rewind() { SeekTo(0); }
    void Close();

    // The input's size in bytes as it was opened (the copy's, for an input that
    // could not seek); the file may change after.
    std::uint64_t SizeWhenOpened() const;

    // Lines read so far: every ReadLine that gave true, and the lines
    // ReadLineStartingWith passed over.
    std::uint64_t LinesRead() const { return linesRead_; }
    // Bytes the window holds: the chunk size, or the longest line if larger.
    std::size_t BufferCapacity() const { return capacity_; }
    // True when the window is the input itself (bytes in memory, a mapped file).
    bool ReadsInPlace() const { return inPlace_; }
    // The mapped file this source and the ones Reopen made read, or null.
    const std::shared_ptr<const platform::MappedInput>& Mapping() const { return mapped_; }
    // The pages this source passes stay taken in while they are less than `window`
    // bytes behind it, for sources reading behind it (whoever knows when they are
    // done gives them back, MappedInput::Release); the ones further behind are given
    // back, and a source that reads them after all takes them in again. The bound
    // keeps memory flat where the others cannot read until this source is far ahead
    // (an object of hundreds of megabytes, read once its end is found).
    void KeepPassedPages(std::int64_t window) { keptBehind_ = window; }

  private:
    LineSource() = default;
    // Hands out the line from the cursor to the line feed at `lineEnd` (a CR before
    // it dropped) and moves the cursor past it.
    void TakeLine(std::size_t lineEnd, std::string_view& line)
    {
        std::size_t length = lineEnd - cursor_;
        if (length > 0 && data_[lineEnd - 1] == '\r')  // CR LF reads as LF
            --length;
        line = std::string_view(data_ + cursor_, length);
        lineStart_ = bufferOffset_ + static_cast<std::int64_t>(cursor_);
        cursor_ = lineEnd + 1;
        ++linesRead_;
    }
    // ReadLine when no line feed is held after the cursor: reads more.
    bool ReadLineAfterHeldBytes(std::string_view& line);
    void AllocateBuffer(std::size_t size);
    // Reads a file opened (or copied) into file_: mapped where `access` allows and the
    // host can, else through a buffer.
    void SetUpReading(std::size_t chunkSize, Access access);
    // Makes the window one onto `bytes`, `chunkSize` long.
    void ReadInPlace(const char* bytes, std::uint64_t size, std::size_t chunkSize);
    // Throws FileError when the mapped file was cut shorter under the reading.
    void ThrowIfCut() const;
    // Gives back the pages of a mapped file the window has moved past.
    void ReleasePassedPages(std::int64_t upTo);
    // Moves the unread bytes to the front and reads more behind them; `scanFrom`
    // (an index into the buffer) moves with the bytes. False when nothing was added.
    bool Refill(std::size_t& scanFrom);
    const char* FindEndMark(std::uint64_t offset, std::size_t length);
    // Moves the cursor, a line start, on past the held lines that cannot begin with
    // `first` `second`, counting them as read.
    void PassOverLines(char first, char second);
    std::size_t ReadAt(char* destination, std::size_t count, std::int64_t offset);

    // An input that cannot seek: copied into spool_, which file_ then reads.
    void Spool(const std::string& folder);
    void CopyInto(platform::InputFile& spool, const std::string& folder);

    std::string path_;
    platform::InputFile file_;
    // The copy of an input that could not seek, shared with the sources Reopen
    // makes; the file goes with the last of them.
    std::shared_ptr<const platform::InputFile> spool_;

    std::string_view memory_;  // the input when reading from memory
    bool fromMemory_ = false;
    std::shared_ptr<const platform::MappedInput> mapped_;  // shared with the sources Reopen makes
    Access access_ = Access::kMapWherePossible;

    // The window: data_[0, end_) are the input's bytes from bufferOffset_ on. Read in
    // place, data_ points into inPlaceBytes_ (the whole input) and nothing is held
    // in buffer_; else data_ is buffer_'s.
    const char* data_ = nullptr;
    bool inPlace_ = false;
    const char* inPlaceBytes_ = nullptr;
    std::uint64_t inPlaceSize_ = 0;
    std::int64_t releasedUpTo_ = 0;  // a mapped file's pages before here are given back
    // Read in place: the input's bytes before this offset hold no 0x1A, as found by
    // any of the sources Reopen makes (they share it), so a range another source has
    // searched already is not searched again.
    std::shared_ptr<std::atomic<std::uint64_t>> noEndMarkBefore_;
    std::int64_t keptBehind_ = 0;  // bytes of passed pages kept taken in behind the window
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::int64_t bufferOffset_ = 0;  // input offset of data_[0]
    std::size_t cursor_ = 0;         // next unread byte
    std::size_t end_ = 0;            // bytes of input held: [0, end_)
    bool atEnd_ = false;             // nothing lies beyond end_ (end of file, or 0x1A)
    std::uint64_t linesRead_ = 0;
    std::int64_t lineStart_ = 0;
};

// True when `line` is at least as long as `key` and begins with it, byte for byte.
// Keys are compared eight bytes at a time, the last eight overlapping the ones before:
// every list line is tested against a key of 13 to 24 bytes, and a library compare
// costs a call each time.
inline bool StartsWith(std::string_view line, std::string_view key)
{
    const std::size_t n = key.size();
    if (line.size() < n)
        return false;
    if (n < 8)
        return std::memcmp(line.data(), key.data(), n) == 0;
    const auto word = [](const char* p) {
        std::uint64_t w;
        std::memcpy(&w, p, sizeof w);
        return w;
    };
    for (std::size_t i = 0; i + 8 < n; i += 8) {
        if (word(line.data() + i) != word(key.data() + i))
            return false;
    }
    return word(line.data() + n - 8) == word(key.data() + n - 8);
}

// One value ScanLine may store: a 32-bit integer for %d, a float for %f.
class ScanTarget {
  public:
    ScanTarget(std::int32_t& value) : integer_(&value) {}
    ScanTarget(SkippedInt& skipped) : integer_(&skipped.value) {}
    ScanTarget(float& value) : real_(&value) {}
    std::int32_t* integer_ = nullptr;
    float* real_ = nullptr;
};

// Reads values out of `line` under a scanf-style format, from the line's first byte:
//   format blank or tab  matches any run of whitespace, none included
//   %d   skips whitespace, then  [+-]? digit+           (saturates at the int32 range)
//   %f   skips whitespace, then  [+-]? (digit+ ("." digit*)? | "." digit+)
//                                ([eE] [+-]? digit+)?    (rounded once to float)
//   %%   matches "%"; any other byte must equal the next byte of the line.
// Whitespace is the C locale's: blank, tab, LF, VT, FF, CR. An "e" without digits
// after it is not part of the number; there are no inf, nan or hex forms. A number
// beyond the float range becomes +-inf, one below it 0 or a subnormal. Scanning stops
// at the first mismatch or the end of the line; targets from there on keep their
// values. Gives the number of values stored.
int ScanLine(std::string_view line, std::string_view format, std::initializer_list<ScanTarget> targets);

}  // namespace ase2sgl
