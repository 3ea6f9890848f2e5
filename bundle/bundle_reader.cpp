// Bundle reader: one walk over the record headers checks every count against the
// bytes left, so that iterating afterwards needs no checks at all.
#include "bundle/bundle_reader.h"

#ifdef _WIN32
#include "platform/win32_errors.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cerrno>

namespace ase2sgl::bundle {

namespace {

std::int32_t Int32At(Span<const std::byte> bytes, std::size_t offset) noexcept
{
    const std::byte* p = bytes.data() + offset;
    const std::uint32_t bits = std::to_integer<std::uint32_t>(p[0]) | std::to_integer<std::uint32_t>(p[1]) << 8 |
                               std::to_integer<std::uint32_t>(p[2]) << 16 | std::to_integer<std::uint32_t>(p[3]) << 24;
    return static_cast<std::int32_t>(bits);
}

ReadStatus Failure(ReadError error, std::uint64_t offset, std::int32_t object) noexcept
{
    ReadStatus status;
    status.error = error;
    status.offset = offset;
    status.object = object;
    return status;
}

// Checks the record at `offset` (object number `object`) and gives where the next
// one begins in `next`.
ReadStatus CheckRecord(Span<const std::byte> bytes, std::size_t offset, std::int32_t object,
                       std::size_t& next) noexcept
{
    const std::size_t left = bytes.size() - offset;
    if (left < kNameFieldBytes)
        return Failure(ReadError::kNameFieldCut, offset, object);
    if (std::memchr(bytes.data() + offset, 0, kNameFieldBytes) == nullptr)
        return Failure(ReadError::kNameNotTerminated, offset, object);
    const std::size_t countOffset = offset + kNameFieldBytes;
    if (left < kRecordHeaderBytes)
        return Failure(ReadError::kVertexCountCut, countOffset, object);
    const std::int32_t n = Int32At(bytes, countOffset);
    if (n < 0)
        return Failure(ReadError::kNegativeVertexCount, countOffset, object);
    if (n % 3 != 0)
        return Failure(ReadError::kVertexCountNotTriangles, countOffset, object);
    // n < 2^31, so 32n < 2^36 fits a 64-bit size; compare against what is left.
    const std::uint64_t dataBytes = kBytesPerVertex * static_cast<std::uint64_t>(n);
    if (dataBytes > left - kRecordHeaderBytes)
        return Failure(ReadError::kVertexDataPastEnd, countOffset, object);
    next = offset + kRecordHeaderBytes + static_cast<std::size_t>(dataBytes);
    return {};
}

}  // namespace

const char* Describe(ReadError error) noexcept
{
    switch (error) {
    case ReadError::kNone: return "sound bundle";
    case ReadError::kEmptyFile: return "empty file";
    case ReadError::kObjectCountCut: return "file ends inside the object count";
    case ReadError::kNegativeObjectCount: return "object count is negative";
    case ReadError::kTooManyObjects: return "object count exceeds 5000";
    case ReadError::kNameFieldCut: return "file ends inside a name field";
    case ReadError::kNameNotTerminated: return "name field has no zero byte";
    case ReadError::kVertexCountCut: return "file ends inside a vertex count";
    case ReadError::kNegativeVertexCount: return "vertex count is negative";
    case ReadError::kVertexCountNotTriangles: return "vertex count is not a multiple of 3";
    case ReadError::kVertexDataPastEnd: return "vertex count runs past the end of the file";
    case ReadError::kTrailingBytes: return "bytes after the last record";
    case ReadError::kCannotOpen: return "cannot open the file";
    case ReadError::kNotRegularFile: return "not a regular file";
    case ReadError::kCannotMap: return "cannot map the file into memory";
    }
    return "unknown error";
}

ReadStatus Validate(Span<const std::byte> bytes) noexcept
{
    if (bytes.empty())
        return Failure(ReadError::kEmptyFile, 0, -1);
    if (bytes.size() < kCountBytes)
        return Failure(ReadError::kObjectCountCut, 0, -1);
    const std::int32_t count = Int32At(bytes, 0);
    if (count < 0)
        return Failure(ReadError::kNegativeObjectCount, 0, -1);
    if (count > kMaxObjects)
        return Failure(ReadError::kTooManyObjects, 0, -1);
    std::size_t offset = kCountBytes;
    for (std::int32_t object = 0; object < count; ++object) {
        const ReadStatus record = CheckRecord(bytes, offset, object, offset);
        if (!record)
            return record;
    }
    if (offset != bytes.size())
        return Failure(ReadError::kTrailingBytes, offset, -1);
    return {};
}

ReadStatus Bundle::Open(Span<const std::byte> bytes) noexcept
{
    bytes_ = {};
    objectCount_ = 0;
    const ReadStatus status = Validate(bytes);
    if (status) {
        bytes_ = bytes;
        objectCount_ = Int32At(bytes, 0);
    }
    return status;
}

Bundle::Iterator Bundle::begin() const noexcept
{
    return objectCount_ == 0 ? end() : Iterator(bytes_, kCountBytes);
}

Bundle::Iterator Bundle::end() const noexcept
{
    return Iterator(bytes_, bytes_.size());
}

Bundle::Iterator::Iterator(Span<const std::byte> bytes, std::size_t offset) noexcept
    : bytes_(bytes), offset_(offset)
{
    if (offset_ >= bytes_.size())
        return;
    const std::byte* record = bytes_.data() + offset_;
    const char* name = reinterpret_cast<const char*>(record);
    object_.name = std::string_view(name, std::strlen(name));  // validated: a zero byte lies within the field
    object_.vertexCount = Int32At(bytes_, offset_ + kNameFieldBytes);
    object_.offset = offset_;
    const std::size_t n = static_cast<std::size_t>(object_.vertexCount);
    const std::byte* data = record + kRecordHeaderBytes;
    object_.positions = PackedFloats(data, 3 * n);
    object_.normals = PackedFloats(data + 12 * n, 3 * n);
    object_.texcoords = PackedFloats(data + 24 * n, 2 * n);
}

Bundle::Iterator& Bundle::Iterator::operator++() noexcept
{
    const std::size_t next =
        offset_ + kRecordHeaderBytes + kBytesPerVertex * static_cast<std::size_t>(object_.vertexCount);
    *this = Iterator(bytes_, next);
    return *this;
}

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_), mapped_(other.mapped_)
{
    other.data_ = nullptr;
    other.size_ = 0;
    other.mapped_ = false;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        Close();
        data_ = other.data_;
        size_ = other.size_;
        mapped_ = other.mapped_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.mapped_ = false;
    }
    return *this;
}

MappedFile::~MappedFile()
{
    Close();
}

void MappedFile::Close() noexcept
{
#ifdef _WIN32
    if (mapped_)
        ::UnmapViewOfFile(data_);
#else
    if (mapped_)
        munmap(const_cast<std::byte*>(data_), size_);
#endif
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

#ifdef _WIN32
// Windows: the path is UTF-8; the file is opened shared, mapped read-only, and
// closed once mapped. Windows errors are told as the errno values of the same cases.
ReadStatus MappedFile::Open(const char* path) noexcept
{
    Close();
    auto failure = [](ReadError error) {
        ReadStatus status = Failure(error, 0, -1);
        status.systemError = platform::ErrnoFromWin32(::GetLastError());
        return status;
    };
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (length <= 0)
        return failure(ReadError::kCannotOpen);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), length);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Failure(ReadError::kNotRegularFile, 0, -1);
    const HANDLE file =
        ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failure(ReadError::kCannotOpen);
    LARGE_INTEGER fileSize{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &fileSize)) {
        ::CloseHandle(file);
        return Failure(ReadError::kNotRegularFile, 0, -1);
    }
    if (fileSize.QuadPart == 0) {
        ::CloseHandle(file);
        return {};
    }
    const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* data = mapping != nullptr ? ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    const ReadStatus status = data == nullptr ? failure(ReadError::kCannotMap) : ReadStatus{};
    if (mapping != nullptr)
        ::CloseHandle(mapping);  // the view keeps the mapping and the file
    ::CloseHandle(file);
    if (data == nullptr)
        return status;
    data_ = static_cast<const std::byte*>(data);
    size_ = static_cast<std::size_t>(fileSize.QuadPart);
    mapped_ = true;
    return {};
}
#else
ReadStatus MappedFile::Open(const char* path) noexcept
{
    Close();
    auto failure = [](ReadError error) {
        ReadStatus status = Failure(error, 0, -1);
        status.systemError = errno;
        return status;
    };
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(ReadError::kCannotOpen);
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const ReadStatus status = failure(ReadError::kCannotOpen);
        ::close(fd);
        return status;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = 0;
        return Failure(ReadError::kNotRegularFile, 0, -1);
    }
    if (info.st_size == 0) {
        ::close(fd);
        return {};
    }
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
        const ReadStatus status = failure(ReadError::kCannotMap);
        ::close(fd);
        return status;
    }
    ::close(fd);  // the mapping keeps the file
    madvise(data, size, MADV_SEQUENTIAL);
    data_ = static_cast<const std::byte*>(data);
    size_ = size;
    mapped_ = true;
    return {};
}
#endif

}  // namespace ase2sgl::bundle
