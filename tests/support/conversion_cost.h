// The conversion run step by step, as the converter entry runs it, so that the
// line source can be asked how many lines it handed out: the measure that shows,
// without timing anything, that no layout makes the reads outgrow the input.
#pragma once

#include "ase/line_source.h"

#include <cstdint>
#include <string_view>

namespace ase2sgl::testing {

// Each line is read once by the counting pass; the geometry pass reads an object's
// lines forward, again after its seek back, and its texture search and
// texture-vertex runs at most once more.
inline constexpr std::uint64_t kMaxReadsPerLine = 5;

// Lines as the converter counts them: one per line feed, plus a last line that has
// none. A file without bytes has no line.
std::uint64_t CountLines(std::string_view bytes);

// The most lines a conversion of `ase` may read. The line count ignores 0x1A,
// which only ever shortens the input.
inline std::uint64_t MaxLinesRead(std::string_view ase)
{
    return kMaxReadsPerLine * (CountLines(ase) + 1);
}

// A 64-bit FNV-1a digest, to compare bundles without keeping them.
std::uint64_t Digest(std::string_view bytes);

struct ConversionCost {
    std::uint64_t linesRead = 0;
    std::uint64_t bundleBytes = 0;   // what the writer wrote, counted and not kept
    std::uint64_t bundleDigest = 0;  // Digest of those bytes
};

// Converts `ase` in memory, reading it in chunks of `chunkSize` bytes (a small
// chunk makes lines cross the buffer's end everywhere); throws what ConvertBytes
// throws. The bundle must not depend on the chunk size.
ConversionCost ConvertCountingLines(std::string_view ase, std::size_t chunkSize = LineSource::kDefaultChunk);

}  // namespace ase2sgl::testing
