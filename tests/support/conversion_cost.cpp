// The conversion's steps with a line count and a byte count at the end.
#include "support/conversion_cost.h"

#include "ase/mesh_tables.h"
#include "bundle/mesh_bundle.h"

#include <algorithm>

namespace ase2sgl::testing {

namespace {

constexpr std::uint64_t kDigestStart = 0xCBF29CE484222325ull;

std::uint64_t AddToDigest(std::uint64_t digest, std::string_view bytes)
{
    for (const char c : bytes)
        digest = (digest ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return digest;
}

class CountingSink : public ByteSink {
  public:
    void Write(const char* data, std::size_t size) override
    {
        bytes += size;
        digest = AddToDigest(digest, {data, size});
    }
    std::uint64_t bytes = 0;
    std::uint64_t digest = kDigestStart;
};

}  // namespace

std::uint64_t CountLines(std::string_view bytes)
{
    const auto lineFeeds = static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    return lineFeeds + (!bytes.empty() && bytes.back() != '\n' ? 1 : 0);
}

std::uint64_t Digest(std::string_view bytes)
{
    return AddToDigest(kDigestStart, bytes);
}

ConversionCost ConvertCountingLines(std::string_view ase, std::size_t chunkSize)
{
    LineSource input = LineSource::FromMemory(ase, chunkSize);
    const MeshTables tables = CountObjects(input, "<memoire>");
    CountingSink sink;
    BundleWriter writer(sink);
    writer.WriteObjectCount(tables.objectCount);
    ReadGeometry(input, tables, [&](std::int32_t object, const ObjectArrays& arrays) {
        writer.WriteObject(tables.nameText[static_cast<std::size_t>(object)],
                           {arrays.corners.data(), static_cast<std::size_t>(arrays.cornersRead)});
    });
    writer.Flush();
    return {input.LinesRead(), sink.bytes, sink.digest};
}

}  // namespace ase2sgl::testing
