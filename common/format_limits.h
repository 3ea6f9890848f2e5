// The numbers of the mesh bundle layout that more than one part of the program
// needs: the reader sizes its tables by them, the counting pass refuses input
// past them, the writer lays records out with them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ase2sgl {

// Loaders of the format size their tables by this limit: a bundle never holds more.
inline constexpr std::int32_t kMaxObjects = 5000;

// The name field of a record: the name, a zero byte, zeros to the end. A name keeps
// at most kMaxNameBytes bytes, so the field always ends with a zero byte.
inline constexpr std::size_t kNameFieldBytes = 255;
inline constexpr std::size_t kMaxNameBytes = kNameFieldBytes - 1;

// The object count at the start of the file, and each record's vertex count: int32.
inline constexpr std::size_t kCountBytes = 4;
// A record's name field and vertex count, before its arrays.
inline constexpr std::size_t kRecordHeaderBytes = kNameFieldBytes + kCountBytes;
// Per vertex: position and normal (3 floats each), texture coordinate (2 floats).
inline constexpr std::size_t kFloatsPerVertex = 3 + 3 + 2;
inline constexpr std::size_t kBytesPerVertex = kFloatsPerVertex * sizeof(float);
static_assert(kRecordHeaderBytes == 259 && kBytesPerVertex == 32);

// One object's record: its name field and vertex count, then its corners' floats.
constexpr std::uint64_t RecordBytes(std::uint64_t corners)
{
    return kRecordHeaderBytes + kBytesPerVertex * corners;
}

}  // namespace ase2sgl
