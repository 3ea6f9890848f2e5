// LineSource over a file or memory, and ScanLine (its field readers are in
// ase/scan_fields.h, shared with the compiled scans).
#include "ase/line_source.h"

#include "ase/scan_fields.h"
#include "common/conversion_error.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <limits>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace ase2sgl {

namespace {

constexpr char kEndOfInput = 0x1A;  // Ctrl-Z: a text-mode reader stops here

// A small file gets a buffer its size (the buffer still grows if the file does): a
// small conversion then maps no memory of its own.
std::size_t BufferSize(std::uint64_t fileBytes, std::size_t chunkSize)
{
    constexpr std::size_t kSmallest = 4096;
    if (fileBytes >= chunkSize)
        return chunkSize;
    return std::max<std::size_t>(static_cast<std::size_t>(fileBytes) + 1, kSmallest);
}

}  // namespace

// A mapped file gives back the pages the reading has passed every this many bytes,
// so that a large input costs the process little more memory than a read one (and
// sources reading side by side hold little each).
constexpr std::int64_t kReleaseStep = std::int64_t{1} << 18;

void LineSource::AllocateBuffer(std::size_t size)
{
    capacity_ = std::max<std::size_t>(size, 1);
    buffer_.reset(new char[capacity_]);
    data_ = buffer_.get();
}

void LineSource::ReadInPlace(const char* bytes, std::uint64_t size, std::size_t chunkSize)
{
    static constexpr char kNoBytes[1] = {};
    inPlace_ = true;
    inPlaceBytes_ = bytes != nullptr ? bytes : kNoBytes;
    inPlaceSize_ = size;
    if (!noEndMarkBefore_)
        noEndMarkBefore_ = std::make_shared<std::atomic<std::uint64_t>>(0);
    data_ = inPlaceBytes_;
    buffer_.reset();
    capacity_ = std::max<std::size_t>(chunkSize, 1);
}

LineSource::LineSource(const std::string& path, std::size_t chunkSize, const std::string& spoolFolder,
                       Access access)
{
    path_ = path;
    access_ = access;
    if (const int error = file_.Open(path); error != 0)
        throw FileError("impossible d'ouvrir", path, error);
    if (!file_.Seekable()) {
        AllocateBuffer(chunkSize);
        Spool(spoolFolder);
    }
    SetUpReading(chunkSize, access);
}

// A file of a chunk or more is mapped where it can be: a window moved along the
// mapping costs no copy. A smaller one is read whole in one read anyway.
void LineSource::SetUpReading(std::size_t chunkSize, Access access)
{
    const std::uint64_t size = file_.Size();
    if (access == Access::kMapWherePossible && size >= chunkSize) {
        auto mapping = std::make_shared<platform::MappedInput>();
        if (mapping->Map(file_, size)) {
            mapped_ = std::move(mapping);
            ReadInPlace(mapped_->Data(), size, chunkSize);
            return;
        }
    }
    if (const std::size_t bytes = BufferSize(size, chunkSize); bytes != capacity_ || !buffer_)
        AllocateBuffer(bytes);
}

void LineSource::Spool(const std::string& folder)
{
    auto spool = std::make_shared<platform::InputFile>();
    int error = folder.empty() ? -1 : spool->OpenUnnamedTemporary(folder);
    std::string where = folder;
    if (error != 0) {
        where = platform::TemporaryFolder();
        if (error = spool->OpenUnnamedTemporary(where); error != 0)
            throw FileError("impossible de creer un fichier temporaire dans", where, error);
    }
    CopyInto(*spool, where);
    file_.Close();  // everything is copied: the writer may go
    if (error = spool->Duplicate(file_); error != 0)
        throw FileError("impossible de lire", path_, error);
    spool_ = std::move(spool);
}

// Copies the input to its end into `spool` through the line buffer, so that the
// copy costs no memory of its own.
void LineSource::CopyInto(platform::InputFile& spool, const std::string& folder)
{
    for (;;) {
        int error = 0;
        const std::int64_t n = file_.ReadNext(buffer_.get(), capacity_, error);
        if (n == 0)
            return;
        if (n < 0)
            throw FileError("impossible de lire", path_, error);
        if (error = spool.Append(buffer_.get(), static_cast<std::size_t>(n)); error != 0)
            throw FileError("impossible d'ecrire un fichier temporaire dans", folder, error);
    }
}

LineSource LineSource::Reopen() const
{
    if (fromMemory_) {
        LineSource source = FromMemory(memory_);
        source.noEndMarkBefore_ = noEndMarkBefore_;
        return source;
    }
    if (mapped_) {
        // The same mapping: the pages another source took in are not taken in again.
        LineSource source;
        source.path_ = path_;
        source.access_ = access_;
        source.spool_ = spool_;
        source.mapped_ = mapped_;
        source.noEndMarkBefore_ = noEndMarkBefore_;
        source.ReadInPlace(mapped_->Data(), mapped_->Size(), kDefaultChunk);
        return source;
    }
    if (!spool_)
        return LineSource(path_, kDefaultChunk, {}, access_);
    LineSource source;
    source.path_ = path_;
    source.access_ = access_;
    if (const int error = spool_->Duplicate(source.file_); error != 0)
        throw FileError("impossible de lire", path_, error);
    source.spool_ = spool_;
    source.SetUpReading(kDefaultChunk, access_);
    return source;
}

std::uint64_t LineSource::SizeWhenOpened() const
{
    return fromMemory_ ? memory_.size() : mapped_ ? mapped_->Size() : file_.Size();
}

LineSource LineSource::FromMemory(std::string_view bytes, std::size_t chunkSize)
{
    LineSource source;
    source.memory_ = bytes;
    source.fromMemory_ = true;
    source.ReadInPlace(bytes.data(), bytes.size(), chunkSize);
    return source;
}

LineSource::LineSource(LineSource&& other) noexcept
{
    *this = std::move(other);
}

LineSource& LineSource::operator=(LineSource&& other) noexcept
{
    if (this != &other) {
        Close();
        path_ = std::move(other.path_);
        file_ = std::move(other.file_);
        memory_ = other.memory_;
        fromMemory_ = other.fromMemory_;
        spool_ = std::move(other.spool_);
        mapped_ = std::move(other.mapped_);
        access_ = other.access_;
        data_ = other.data_;
        inPlace_ = other.inPlace_;
        inPlaceBytes_ = other.inPlaceBytes_;
        inPlaceSize_ = other.inPlaceSize_;
        releasedUpTo_ = other.releasedUpTo_;
        noEndMarkBefore_ = other.noEndMarkBefore_;  // shared: a source moved from still reads
        keptBehind_ = other.keptBehind_;
        buffer_ = std::move(other.buffer_);
        capacity_ = other.capacity_;
        bufferOffset_ = other.bufferOffset_;
        cursor_ = other.cursor_;
        end_ = other.end_;
        atEnd_ = other.atEnd_;
        linesRead_ = other.linesRead_;
        lineStart_ = other.lineStart_;
    }
    return *this;
}

LineSource::~LineSource()
{
    Close();
}

void LineSource::Close()
{
    file_.Close();
}

void LineSource::ThrowIfCut() const
{
    if (mapped_ && mapped_->Cut())
        throw FileError("impossible de lire", path_, EIO);
}

void LineSource::ReleasePassedPages(std::int64_t upTo)
{
    upTo -= keptBehind_;
    if (mapped_ && upTo > releasedUpTo_) {
        const auto from = static_cast<std::uint64_t>(releasedUpTo_);
        const auto length = static_cast<std::uint64_t>(upTo - releasedUpTo_);
        // Alone on the mapping, the pages before the ones passed are this source's
        // own, passed before; with other sources they may be what another one reads,
        // unless they lie behind the pages kept for them.
        if (mapped_.use_count() == 1 || keptBehind_ > 0)
            mapped_->ReleaseFromBlockStart(from, length);
        else
            mapped_->Release(from, length);
        releasedUpTo_ = upTo;
    }
}

std::size_t LineSource::ReadAt(char* destination, std::size_t count, std::int64_t offset)
{
    int error = 0;
    const std::int64_t n = file_.ReadAt(destination, count, offset, error);
    if (n < 0)
        throw FileError("impossible de lire", path_, error);
    return static_cast<std::size_t>(n);
}

// Read in place, the window moves along the input and takes in up to its length
// more; through the buffer, the unread bytes move to its front and a read fills the
// rest. Either way the window then holds the same bytes.
bool LineSource::Refill(std::size_t& scanFrom)
{
    ThrowIfCut();  // bytes past a cut read as zeros: none of them reaches a caller
    if (atEnd_)
        return false;
    if (cursor_ > 0) {
        if (!inPlace_)
            std::memmove(buffer_.get(), data_ + cursor_, end_ - cursor_);
        bufferOffset_ += static_cast<std::int64_t>(cursor_);
        end_ -= cursor_;
        scanFrom -= cursor_;
        cursor_ = 0;
        if (inPlace_) {
            data_ = inPlaceBytes_ + bufferOffset_;
            if (bufferOffset_ - keptBehind_ - releasedUpTo_ >= kReleaseStep)
                ReleasePassedPages(bufferOffset_);
        }
    }
    if (end_ == capacity_) {  // one line fills the whole window: make room for more of it
        const std::size_t grown = capacity_ * 2;
        if (!inPlace_) {
            std::unique_ptr<char[]> larger(new char[grown]);
            std::memcpy(larger.get(), data_, end_);
            buffer_ = std::move(larger);
            data_ = buffer_.get();
        }
        capacity_ = grown;
    }
    std::size_t added = 0;
    const std::int64_t heldEnd = bufferOffset_ + static_cast<std::int64_t>(end_);
    if (!inPlace_)
        added = ReadAt(buffer_.get() + end_, capacity_ - end_, heldEnd);
    else if (static_cast<std::uint64_t>(heldEnd) < inPlaceSize_)
        added = static_cast<std::size_t>(
            std::min<std::uint64_t>(capacity_ - end_, inPlaceSize_ - static_cast<std::uint64_t>(heldEnd)));
    if (added == 0) {
        atEnd_ = true;
        return false;
    }
    // Everything from a 0x1A byte on is never read: the input ends there.
    if (const char* stop = FindEndMark(static_cast<std::uint64_t>(heldEnd), added)) {
        end_ = static_cast<std::size_t>(stop - data_);
        atEnd_ = true;
        return scanFrom < end_;
    }
    end_ += added;
    return true;
}

// The first 0x1A among the `length` bytes from data_ + end_ (input offset `offset`),
// or null. Read in place, the bytes another source sharing the input has searched are
// passed over, and a search that joins on to theirs moves the shared mark on: the two
// reads of a conversion search the input once between them.
const char* LineSource::FindEndMark(std::uint64_t offset, std::size_t length)
{
    const char* const from = data_ + end_;
    if (!inPlace_)
        return static_cast<const char*>(std::memchr(from, kEndOfInput, length));
    std::atomic<std::uint64_t>& mark = *noEndMarkBefore_;
    std::uint64_t searched = mark.load(std::memory_order_relaxed);
    const std::size_t known =
        searched > offset ? static_cast<std::size_t>(std::min<std::uint64_t>(searched - offset, length)) : 0;
    if (const void* stop = std::memchr(from + known, kEndOfInput, length - known))
        return static_cast<const char*>(stop);
    // Only a search that starts within the searched bytes extends them: the mark
    // never passes a byte no source has looked at.
    const std::uint64_t through = offset + length;
    while (searched >= offset && searched < through &&
           !mark.compare_exchange_weak(searched, through, std::memory_order_relaxed)) {
    }
    return nullptr;
}

bool LineSource::ReadLineAfterHeldBytes(std::string_view& line)
{
    std::size_t scanFrom = end_;  // no line feed lies between the cursor and here
    while (Refill(scanFrom)) {
        const char* start = data_ + scanFrom;
        if (const void* found = std::memchr(start, '\n', end_ - scanFrom)) {
            TakeLine(static_cast<std::size_t>(static_cast<const char*>(found) - data_), line);
            return true;
        }
        scanFrom = end_;
    }
    // End of input: what is left is a last line without a line feed (a CR stays in it).
    line = std::string_view(data_ + cursor_, end_ - cursor_);
    if (line.empty())
        return false;
    lineStart_ = bufferOffset_ + static_cast<std::int64_t>(cursor_);
    cursor_ = end_;
    ++linesRead_;
    return true;
}

bool LineSource::ReadLineStartingWith(std::string_view prefix, std::string_view& line)
{
    for (;;) {
        if (!ReadLine(line))
            return false;
        if (StartsWith(line, prefix))
            return true;
        PassOverLines(prefix[0], prefix[1]);
    }
}

namespace {

// Set bits of a mask with few of them (line feeds in 32 bytes of text): one step a
// bit, where std::popcount without a POPCNT instruction calls a library routine.
int SparseBitCount(std::uint32_t mask)
{
    int count = 0;
    for (; mask != 0; mask &= mask - 1)
        ++count;
    return count;
}

}  // namespace

// A line can begin with `first` `second` only where a line feed is followed by those
// two bytes (the line at the cursor too: the byte before it is the line feed that
// ended the line just read). Thirty-two positions are tested at once, as two halves
// of 16 with three unaligned loads each, at p, p + 1 and p + 2, compared bytewise
// and their masks ANDed: bit k is set when p[k] is a line feed and p[k + 1], p[k + 2]
// are the two bytes. Only held bytes are loaded (p + 34 <= end_). The cursor moves
// to the line after the last line feed before the first such place (or before the
// bytes left unscanned), so that ReadLine goes on with a line that may begin with
// the prefix; the line feeds passed are the lines passed over. Without SSE2 nothing
// moves, and the caller tests every line itself.
void LineSource::PassOverLines(char first, char second)
{
#if defined(__SSE2__) || defined(_M_X64)
    if (cursor_ == 0 || data_[cursor_ - 1] != '\n')
        return;  // the line just read ended at the end of the input: no line follows
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i firstBytes = _mm_set1_epi8(first);
    const __m128i secondBytes = _mm_set1_epi8(second);
    const auto masks = [&](const char* p, std::uint32_t& feeds, std::uint32_t& starts) {
        const auto load = [](const char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
        const auto bits = [](__m128i equal) { return static_cast<std::uint32_t>(_mm_movemask_epi8(equal)); };
        const std::uint32_t lowFeeds = bits(_mm_cmpeq_epi8(load(p), lineFeed));
        const std::uint32_t highFeeds = bits(_mm_cmpeq_epi8(load(p + 16), lineFeed));
        feeds = lowFeeds | highFeeds << 16;
        if (feeds == 0) {
            starts = 0;
            return;
        }
        starts = feeds & (bits(_mm_cmpeq_epi8(load(p + 1), firstBytes)) |
                          bits(_mm_cmpeq_epi8(load(p + 17), firstBytes)) << 16) &
                 (bits(_mm_cmpeq_epi8(load(p + 2), secondBytes)) |
                  bits(_mm_cmpeq_epi8(load(p + 18), secondBytes)) << 16);
    };
    const char* const base = data_;
    std::size_t at = cursor_ - 1;     // the line feed before the cursor, then every 32 bytes
    std::size_t lineStart = cursor_;  // after the last line feed passed
    std::uint64_t passed = 0;
    std::uint32_t alreadyCounted = 1;  // that first line feed ended a line already counted
    while (end_ - at >= 34) {
        std::uint32_t feeds = 0, starts = 0;
        masks(base + at, feeds, starts);
        feeds &= ~alreadyCounted;
        alreadyCounted = 0;
        if (starts != 0) {
            const int k = std::countr_zero(starts);
            passed += static_cast<std::uint64_t>(SparseBitCount(feeds & ((std::uint32_t{2} << k) - 1)));
            lineStart = at + static_cast<std::size_t>(k) + 1;
            break;
        }
        if (feeds != 0) {
            passed += static_cast<std::uint64_t>(SparseBitCount(feeds));
            lineStart = at + static_cast<std::size_t>(std::bit_width(feeds));
        }
        at += 32;
    }
    cursor_ = lineStart;
    linesRead_ += passed;
#else
    (void)first;
    (void)second;
#endif
}

void LineSource::SeekTo(std::int64_t position)
{
    // A position still held in the buffer needs no new read: the bytes are the same
    // ones, and an end of input found there is found again at the same byte.
    if (position >= bufferOffset_ && position <= bufferOffset_ + static_cast<std::int64_t>(end_)) {
        cursor_ = static_cast<std::size_t>(position - bufferOffset_);
        return;
    }
    if (inPlace_) {
        // A mapped file's pages passed so far are given back: the reading goes on
        // elsewhere. Not the held bytes past the cursor: sources sharing the mapping
        // may be reading them.
        ReleasePassedPages(bufferOffset_ + static_cast<std::int64_t>(cursor_));
        releasedUpTo_ = position;
        data_ = inPlaceBytes_ + std::min<std::uint64_t>(static_cast<std::uint64_t>(position), inPlaceSize_);
    }
    bufferOffset_ = position;
    cursor_ = end_ = 0;
    atEnd_ = false;
}

namespace scan {

const char* ScanLongFloat(const char* mantissa, const char* intEnd, const char* q, const char* exponentDigits,
                          bool negative, float& value)
{
    float magnitude = 0;
    const auto [parsedEnd, ec] = std::from_chars(mantissa, q, magnitude, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Far beyond the float range one way or the other: the decimal exponent of
        // the first significant digit tells which.
        const char* firstNonZero = mantissa;
        while (firstNonZero != q && (*firstNonZero == '0' || *firstNonZero == '.'))
            ++firstNonZero;
        std::int64_t exponent = firstNonZero < intEnd ? intEnd - firstNonZero - 1 : -(firstNonZero - intEnd);
        if (exponentDigits != nullptr) {
            std::int32_t written = 0;
            ScanInt(exponentDigits, q, written);
            exponent += written;
        }
        magnitude = exponent > 0 ? std::numeric_limits<float>::infinity() : 0.0f;
    } else if (ec != std::errc{} || parsedEnd != q) {
        return nullptr;  // cannot happen for text matching the grammar
    }
    value = negative ? -magnitude : magnitude;
    return q;
}

}  // namespace scan

int ScanLine(std::string_view line, std::string_view format, std::initializer_list<ScanTarget> targets)
{
    const char* p = line.data();
    const char* const end = p + line.size();
    auto target = targets.begin();
    int stored = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == ' ' || c == '\t') {
            p = scan::SkipSpace(p, end);
            continue;
        }
        if (c == '%' && i + 1 < format.size() && format[i + 1] != '%') {
            const char conversion = format[++i];
            if (target == targets.end())
                return stored;
            p = scan::SkipSpace(p, end);
            if (conversion == 'd' && target->integer_ != nullptr)
                p = scan::ScanInt(p, end, *target->integer_);
            else if (conversion == 'f' && target->real_ != nullptr)
                p = scan::ScanFloat(p, end, *target->real_);
            else
                return stored;  // format and target disagree: store nothing more
            if (p == nullptr)
                return stored;
            ++target;
            ++stored;
            continue;
        }
        if (c == '%')
            ++i;  // "%%" matches one "%"
        if (p == end || *p != c)
            return stored;
        ++p;
    }
    return stored;
}

}  // namespace ase2sgl
