// Bundle layout check: everything a loader relies on.
#include "support/bundle_layout.h"

#include <cstring>

namespace ase2sgl::testing {

namespace {

std::int32_t Int32At(std::string_view bytes, std::size_t offset)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

std::vector<float> FloatsAt(std::string_view bytes, std::size_t offset, std::size_t count)
{
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t bits = static_cast<std::uint32_t>(Int32At(bytes, offset + 4 * i));
        std::memcpy(&values[i], &bits, 4);
    }
    return values;
}

}  // namespace

Bundle ParseBundle(std::string_view bytes)
{
    Bundle bundle;
    auto fail = [&](std::string problem) {
        bundle.problem = std::move(problem);
        return bundle;
    };
    if (bytes.size() < 4)
        return fail("shorter than the object count");
    const std::int32_t count = Int32At(bytes, 0);
    if (count < 0 || count > 5000)
        return fail("object count " + std::to_string(count) + " outside 0..5000");
    std::size_t offset = 4;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string at = "object " + std::to_string(i) + ": ";
        if (bytes.size() - offset < 259)
            return fail(at + "record header cut off");
        const std::string_view field = bytes.substr(offset, 255);
        const std::size_t zero = field.find('\0');
        if (zero == std::string_view::npos)
            return fail(at + "name field not zero-terminated");
        const std::int32_t n = Int32At(bytes, offset + 255);
        if (n < 0 || n % 3 != 0)
            return fail(at + "vertex count " + std::to_string(n) + " is not a multiple of 3");
        const std::size_t floats = 8 * static_cast<std::size_t>(n);
        if ((bytes.size() - offset - 259) / 4 < floats)
            return fail(at + "vertex data cut off");
        BundleObject object;
        object.name = std::string(field.substr(0, zero));
        const std::size_t data = offset + 259;
        const std::size_t un = static_cast<std::size_t>(n);
        object.positions = FloatsAt(bytes, data, 3 * un);
        object.normals = FloatsAt(bytes, data + 12 * un, 3 * un);
        object.texcoords = FloatsAt(bytes, data + 24 * un, 2 * un);
        bundle.objects.push_back(std::move(object));
        offset = data + 32 * un;
    }
    if (offset != bytes.size())
        return fail(std::to_string(bytes.size() - offset) + " bytes after the last record");
    return bundle;
}

}  // namespace ase2sgl::testing
