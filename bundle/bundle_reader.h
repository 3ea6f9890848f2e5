// Reads mesh bundles (.sgl) of any origin, truncated or hostile ones included.
// Depends on the standard library alone: an engine can link it or copy these two
// files. It never throws, never allocates, and never reads outside the bytes given.
//
// The file: an int32 object count (at most 5000), then per object a 255-byte name
// field (the name, a zero byte, zero fill), an int32 vertex count n (a multiple of
// 3) and three float32 arrays: positions 3n, normals 3n, texture coordinates 2n.
// Little-endian, no padding: a record takes 259 + 32n bytes and nothing follows the
// last one. Because of the 255-byte name field the arrays are in general not
// 4-byte aligned, so they are handed out as PackedFloats, which read each value
// with memcpy, never as float pointers.
//
//   ase2sgl::bundle::Bundle bundle;
//   const ase2sgl::bundle::ReadStatus status = bundle.Open(bytes);   // or MappedFile
//   if (!status)
//       printf("%s at byte %llu\n", Describe(status.error), (unsigned long long)status.offset);
//   for (const ase2sgl::bundle::Object& object : bundle)
//       Upload(object.name, object.vertexCount, object.positions.Bytes(), ...);
//
// C++17 or later: under C++20 byte ranges are std::span, under C++17 the small
// Span below, with the same members (data, size, empty, [], begin, end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#if defined(_MSVC_LANG) && _MSVC_LANG > __cplusplus
#define ASE2SGL_BUNDLE_CPLUSPLUS _MSVC_LANG
#else
#define ASE2SGL_BUNDLE_CPLUSPLUS __cplusplus
#endif
#if ASE2SGL_BUNDLE_CPLUSPLUS >= 202002L && __has_include(<span>)
#include <bit>
#include <span>
#define ASE2SGL_BUNDLE_STD_SPAN 1
#endif

namespace ase2sgl::bundle {

#ifdef ASE2SGL_BUNDLE_STD_SPAN
template <typename T>
using Span = std::span<T>;
inline constexpr bool kBigEndianHost = std::endian::native == std::endian::big;
#else
// A pointer and a count, as std::span<T> of C++20 holds them.
template <typename T>
class Span {
  public:
    constexpr Span() noexcept = default;
    constexpr Span(T* data, std::size_t size) noexcept : data_(data), size_(size) {}
    template <typename Container, typename = decltype(std::data(std::declval<Container&>()))>
    constexpr Span(Container& container) noexcept : data_(std::data(container)), size_(std::size(container))
    {
    }
    constexpr T* data() const noexcept { return data_; }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr std::size_t size_bytes() const noexcept { return size_ * sizeof(T); }
    constexpr bool empty() const noexcept { return size_ == 0; }
    constexpr T& operator[](std::size_t i) const noexcept { return data_[i]; }
    constexpr T* begin() const noexcept { return data_; }
    constexpr T* end() const noexcept { return data_ + size_; }

  private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__)
inline constexpr bool kBigEndianHost = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
#else
inline constexpr bool kBigEndianHost = false;  // MSVC: every Windows target is little-endian
#endif
#endif

inline constexpr std::int32_t kMaxObjects = 5000;
inline constexpr std::size_t kCountBytes = 4;
inline constexpr std::size_t kNameFieldBytes = 255;
inline constexpr std::size_t kRecordHeaderBytes = kNameFieldBytes + kCountBytes;  // 259
inline constexpr std::size_t kBytesPerVertex = 32;                                // 3 + 3 + 2 floats

// Why a file is not a sound bundle. Each error comes with the byte offset of the
// field that is wrong or cut off (see ReadStatus).
enum class ReadError : std::uint8_t {
    kNone,
    kEmptyFile,                // no bytes at all (offset 0)
    kObjectCountCut,           // 1 to 3 bytes: the object count is cut off (offset 0)
    kNegativeObjectCount,      // offset 0
    kTooManyObjects,           // more than 5000 (offset 0)
    kNameFieldCut,             // a record begins but its name field ends with the file (offset: the record)
    kNameNotTerminated,        // no zero byte in the 255-byte name field (offset: the record)
    kVertexCountCut,           // the file ends inside a vertex count (offset: the count)
    kNegativeVertexCount,      // offset: the count
    kVertexCountNotTriangles,  // not a multiple of 3 (offset: the count)
    kVertexDataPastEnd,        // the count asks for more bytes than the file holds (offset: the count)
    kTrailingBytes,            // bytes after the last record (offset: the first of them)
    kCannotOpen,               // MappedFile only: open or fstat failed (offset 0, systemError set)
    kNotRegularFile,           // MappedFile only: a folder, a device, a pipe
    kCannotMap,                // MappedFile only: mmap failed (systemError set)
};

// A short English reason, lower case, no full stop ("object count is negative").
const char* Describe(ReadError error) noexcept;

struct ReadStatus {
    ReadError error = ReadError::kNone;
    std::uint64_t offset = 0;  // where the file stops making sense
    std::int32_t object = -1;  // the record concerned, or -1 for the file as a whole
    int systemError = 0;       // errno for the MappedFile errors
    explicit operator bool() const noexcept { return error == ReadError::kNone; }
};

// Little-endian float32 values at any address: element i is read with memcpy.
class PackedFloats {
  public:
    PackedFloats() = default;
    PackedFloats(const std::byte* data, std::size_t count) noexcept : data_(data), count_(count) {}

    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    float operator[](std::size_t i) const noexcept
    {
        std::uint32_t bits;
        std::memcpy(&bits, data_ + 4 * i, 4);
        if constexpr (kBigEndianHost)
            bits = (bits >> 24) | ((bits >> 8) & 0xFF00u) | ((bits << 8) & 0xFF0000u) | (bits << 24);
        float value;
        std::memcpy(&value, &bits, 4);
        return value;
    }
    // The raw little-endian bytes, 4 per value: for a copy straight into a vertex buffer.
    Span<const std::byte> Bytes() const noexcept { return {data_, 4 * count_}; }
    // Values [first, first + out.size()) into `out`, which the caller sizes.
    void CopyTo(Span<float> out, std::size_t first = 0) const noexcept
    {
        if (out.empty())  // an empty span may hold a null pointer, which memcpy must not see
            return;
        if constexpr (!kBigEndianHost) {
            std::memcpy(out.data(), data_ + 4 * first, 4 * out.size());
        } else {
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = (*this)[first + i];
        }
    }

  private:
    const std::byte* data_ = nullptr;
    std::size_t count_ = 0;
};

// One record, a view into the bundle's bytes.
struct Object {
    std::string_view name;         // up to the zero byte of the name field
    std::int32_t vertexCount = 0;  // three per triangle
    std::uint64_t offset = 0;      // of the record in the file
    PackedFloats positions;        // x, y, z per vertex
    PackedFloats normals;          // x, y, z per vertex
    PackedFloats texcoords;        // u, v per vertex
    std::int32_t TriangleCount() const noexcept { return vertexCount / 3; }
};

// Reads the bytes as a bundle. Open validates every field against the size
// first; only a sound bundle yields objects, one per record in file order.
class Bundle {
  public:
    class Iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Object;
        using difference_type = std::ptrdiff_t;
        using pointer = const Object*;
        using reference = const Object&;

        Iterator() = default;
        const Object& operator*() const noexcept { return object_; }
        const Object* operator->() const noexcept { return &object_; }
        Iterator& operator++() noexcept;
        Iterator operator++(int) noexcept
        {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator& other) const noexcept { return offset_ == other.offset_; }
        bool operator!=(const Iterator& other) const noexcept { return offset_ != other.offset_; }

      private:
        friend class Bundle;
        Iterator(Span<const std::byte> bytes, std::size_t offset) noexcept;
        Span<const std::byte> bytes_;
        std::size_t offset_ = 0;
        Object object_;
    };

    ReadStatus Open(Span<const std::byte> bytes) noexcept;

    std::int32_t ObjectCount() const noexcept { return objectCount_; }
    Iterator begin() const noexcept;
    Iterator end() const noexcept;

  private:
    Span<const std::byte> bytes_;  // empty until Open succeeds
    std::int32_t objectCount_ = 0;
};

// Checks the layout without keeping anything: the status Bundle::Open gives.
ReadStatus Validate(Span<const std::byte> bytes) noexcept;

// A whole file mapped read-only into memory, unmapped on destruction. The file
// must not shrink while mapped (reading a page past its new end raises SIGBUS).
class MappedFile {
  public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    ~MappedFile();

    // kCannotOpen, kNotRegularFile or kCannotMap with errno, or kNone. An empty
    // file maps to no bytes.
    ReadStatus Open(const char* path) noexcept;
    Span<const std::byte> Bytes() const noexcept { return {data_, size_}; }

  private:
    void Close() noexcept;
    const std::byte* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace ase2sgl::bundle
