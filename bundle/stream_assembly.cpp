// Stream assembly: one object's corners become the three float arrays of its
// record. Every corner is one output vertex, in corner order; nothing is welded,
// reordered or normalised.
#include "bundle/mesh_bundle.h"

#include <bit>
#include <cstring>

namespace ase2sgl {

namespace {

// A float as the file stores it, little-endian, at any address.
char* Put(char* out, float value)
{
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    if constexpr (std::endian::native == std::endian::big)
        bits = __builtin_bswap32(bits);
    std::memcpy(out, &bits, sizeof bits);
    return out + sizeof bits;
}

}  // namespace

char* AssembleStream(std::span<const CornerRecord> corners, Stream stream, char* out)
{
    switch (stream) {
    case Stream::kPositions:
        for (const CornerRecord& corner : corners)
            out = Put(Put(Put(out, corner.position[0]), corner.position[1]), corner.position[2]);
        break;
    case Stream::kNormals:
        for (const CornerRecord& corner : corners)
            out = Put(Put(Put(out, corner.normal[0]), corner.normal[1]), corner.normal[2]);
        break;
    case Stream::kTexcoords:
        // V was stored negated while reading; negating again only flips the sign
        // bit, so the file carries V as written (and an unwritten +0.0 as -0.0).
        for (const CornerRecord& corner : corners)
            out = Put(Put(out, corner.texcoord[0]), -corner.texcoord[1]);
        break;
    }
    return out;
}

}  // namespace ase2sgl
