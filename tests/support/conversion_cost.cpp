// The conversion's steps with a line count and a byte count at the end.
#include "support/conversion_cost.h"

#include <algorithm>

#include "ase/line_source.h"
#include "bundle/mesh_bundle.h"

namespace ase2sgl::testing {

namespace {

class CountingSink : public ByteSink {
  public:
    void Write(const char*, std::size_t size) override { bytes += size; }
    std::uint64_t bytes = 0;
};

}  // namespace

std::uint64_t CountLines(std::string_view bytes)
{
    const auto lineFeeds = static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    return lineFeeds + (!bytes.empty() && bytes.back() != '\n' ? 1 : 0);
}

ConversionCost ConvertCountingLines(std::string_view ase)
{
    LineSource input = LineSource::FromMemory(ase);
    const MeshTables tables = CountObjects(input, "<memoire>");
    CountingSink sink;
    BundleWriter writer(sink);
    writer.WriteObjectCount(tables.nodeCount);
    ReadGeometry(input, tables, [&](std::int32_t object, const ObjectArrays& arrays) {
        writer.WriteObject(tables.nameText[static_cast<std::size_t>(object)],
                           {arrays.corners.data(), static_cast<std::size_t>(arrays.outputVertexCount)});
    });
    writer.Flush();
    return {input.LinesRead(), sink.bytes};
}

}  // namespace ase2sgl::testing
