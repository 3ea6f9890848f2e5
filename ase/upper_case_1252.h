// The converter's upper-casing of object names: one byte as Windows-1252 does it,
// whatever the host's locale. Lint calls it too, so that the names it predicts are
// the bundle's names byte for byte.
#pragma once

namespace ase2sgl {

// ASCII letters, the accented letters 0xE0-0xFE except the division sign 0xF7, and
// the four letters of the 0x80-0x9F block that have capitals there.
constexpr unsigned char UpperCase1252(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<unsigned char>(c - 0x20);
    switch (c) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return c;
    }
}

}  // namespace ase2sgl
