// The preview renderer: orthographic projection, edge functions over each
// triangle's pixel box, a depth buffer, Gouraud shading.
#include "tools/render.h"

#include "ase/upper_case_1252.h"
#include "tools/export.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ase2sgl::tools {

namespace {

using Vec3d = std::array<double, 3>;

double Dot(const Vec3d& a, const Vec3& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3 Normalize(Vec3d v)
{
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length > 1e-12) || !std::isfinite(length))
        return {0, 0, 0};
    return {float(v[0] / length), float(v[1] / length), float(v[2] / length)};
}

Vec3d ToDouble(Vec3 v)
{
    return {v[0], v[1], v[2]};
}

Vec3 Cross(const Vec3& a, const Vec3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Camera Orient(View view)
{
    Camera camera;
    Vec3 up = {0, 1, 0};
    switch (view) {
    case View::kFront: camera.toward = {0, 0, 1}; break;
    case View::kTop:
        camera.toward = {0, 1, 0};
        up = {0, 0, -1};
        break;
    case View::kSide: camera.toward = {1, 0, 0}; break;
    case View::kIso: {
        const double around = M_PI / 4, above = M_PI / 6;
        camera.toward =
            Normalize({std::cos(above) * std::sin(around), std::sin(above), std::cos(above) * std::cos(around)});
        break;
    }
    }
    camera.right = Normalize(ToDouble(Cross(up, camera.toward)));
    camera.up = Cross(camera.toward, camera.right);
    return camera;
}

bool IsFinite(const Vec3& v)
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// Fits the drawn objects' finite positions into the picture with a 5% margin.
void Frame(Camera& camera, const LoadedBundle& loaded, const std::vector<std::size_t>& drawn, int size)
{
    double minR = INFINITY, maxR = -INFINITY, minU = INFINITY, maxU = -INFINITY;
    for (const std::size_t index : drawn) {
        const bundle::Object& object = loaded.objects[index];
        for (std::size_t v = 0; v < static_cast<std::size_t>(object.vertexCount); ++v) {
            const Vec3 p = Vec3At(object.positions, v);
            if (!IsFinite(p))
                continue;
            const Vec3d w = ToDouble(ToRightHandedYUp(p));
            const double r = Dot(w, camera.right), u = Dot(w, camera.up);
            minR = std::min(minR, r), maxR = std::max(maxR, r);
            minU = std::min(minU, u), maxU = std::max(maxU, u);
        }
    }
    if (!(minR <= maxR))
        minR = maxR = minU = maxU = 0;
    const double extent = std::max(maxR - minR, maxU - minU);
    camera.scale = extent > 0 && std::isfinite(extent) ? 0.9 * size / extent : 1.0;
    camera.offsetRight = (minR + maxR) / 2;
    camera.offsetUp = (minU + maxU) / 2;
    camera.centerX = camera.centerY = size / 2.0;
}

std::array<float, 3> ObjectColour(std::size_t index)
{
    // Hues spread by the golden angle, fairly saturated, so that neighbours differ.
    const double hue = std::fmod(0.08 + 0.618034 * static_cast<double>(index), 1.0) * 6;
    const double f = hue - std::floor(hue);
    const float hi = 0.95f, lo = 0.35f, mid = float(lo + (hi - lo) * f), fall = float(hi - (hi - lo) * f);
    switch (static_cast<int>(hue)) {
    case 0: return {hi, mid, lo};
    case 1: return {fall, hi, lo};
    case 2: return {lo, hi, mid};
    case 3: return {lo, fall, hi};
    case 4: return {mid, lo, hi};
    default: return {hi, lo, fall};
    }
}

struct Raster {
    Image& image;
    std::vector<float> depth;
    double backFaceBias;  // how far a back face sits behind a front face at the same place
};

struct Corner {
    double x, y, depth, light, u, v;
};

void FillTriangle(Raster& raster, const Corner (&c)[3], const std::array<float, 3>& colour, bool checker)
{
    const double area = (c[1].x - c[0].x) * (c[2].y - c[0].y) - (c[2].x - c[0].x) * (c[1].y - c[0].y);
    if (area == 0 || !std::isfinite(area))
        return;
    const int width = raster.image.width, height = raster.image.height;
    const int x0 = std::max(0, static_cast<int>(std::floor(std::min({c[0].x, c[1].x, c[2].x}))));
    const int x1 = std::min(width - 1, static_cast<int>(std::ceil(std::max({c[0].x, c[1].x, c[2].x}))));
    const int y0 = std::max(0, static_cast<int>(std::floor(std::min({c[0].y, c[1].y, c[2].y}))));
    const int y1 = std::min(height - 1, static_cast<int>(std::ceil(std::max({c[0].y, c[1].y, c[2].y}))));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            // Barycentric weights; all of one sign inside, whichever way the triangle winds.
            const double w0 = ((c[1].x - px) * (c[2].y - py) - (c[2].x - px) * (c[1].y - py)) / area;
            const double w1 = ((c[2].x - px) * (c[0].y - py) - (c[0].x - px) * (c[2].y - py)) / area;
            const double w2 = 1 - w0 - w1;
            if (w0 < 0 || w1 < 0 || w2 < 0)
                continue;
            const double depth = w0 * c[0].depth + w1 * c[1].depth + w2 * c[2].depth;
            const std::size_t pixel =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
            if (depth <= raster.depth[pixel])
                continue;
            raster.depth[pixel] = float(depth);
            double light = w0 * c[0].light + w1 * c[1].light + w2 * c[2].light;
            if (checker) {
                const double u = w0 * c[0].u + w1 * c[1].u + w2 * c[2].u, v = w0 * c[0].v + w1 * c[1].v + w2 * c[2].v;
                const long long cell =
                    static_cast<long long>(std::floor(8 * u)) + static_cast<long long>(std::floor(8 * v));
                if (std::isfinite(u) && std::isfinite(v) && (cell & 1) != 0)
                    light *= 0.55;
            }
            for (std::size_t k = 0; k < 3; ++k)
                raster.image.rgb[3 * pixel + k] =
                    static_cast<std::uint8_t>(std::lround(255 * std::clamp(light * colour[k], 0.0, 1.0)));
        }
    }
}

// A triangle faces the viewer when its corners run counter-clockwise seen from
// the camera (the bundle's winding, see export.h).
bool FacesViewer(const Camera& camera, const bundle::Object& object, std::size_t first)
{
    const Vec3 a = ToRightHandedYUp(Vec3At(object.positions, first));
    const Vec3 b = ToRightHandedYUp(Vec3At(object.positions, first + 1));
    const Vec3 c = ToRightHandedYUp(Vec3At(object.positions, first + 2));
    const Vec3 normal = Cross({b[0] - a[0], b[1] - a[1], b[2] - a[2]}, {c[0] - a[0], c[1] - a[1], c[2] - a[2]});
    return Dot(ToDouble(camera.toward), normal) >= 0;
}

// Back faces are drawn darker, and a hair behind where they are, so that the inside
// of an open mesh shows as such and a double-sided surface (the same triangles
// twice, once in each winding) shows its front face only instead of stripes of both.
void ShadeAsBackFace(Corner (&corners)[3], double bias)
{
    for (Corner& corner : corners) {
        corner.light *= 0.5;
        corner.depth -= bias;
    }
}

void DrawObject(Raster& raster, const Camera& camera, const bundle::Object& object, const std::array<float, 3>& colour,
                bool checker)
{
    // The light comes from the viewer's upper left.
    const Vec3d light = {-0.35 * camera.right[0] + 0.55 * camera.up[0] + 0.76 * camera.toward[0],
                         -0.35 * camera.right[1] + 0.55 * camera.up[1] + 0.76 * camera.toward[1],
                         -0.35 * camera.right[2] + 0.55 * camera.up[2] + 0.76 * camera.toward[2]};
    const auto n = static_cast<std::size_t>(object.vertexCount);
    for (std::size_t t = 0; t < n / 3; ++t) {
        Corner corners[3];
        bool finite = true;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t v = 3 * t + k;
            const Vec3 p = Vec3At(object.positions, v);
            finite = finite && IsFinite(p);
            const auto projected = camera.Project(p);
            const Vec3 normal = ToRightHandedYUp(ExportedNormal(object, v));
            const double lambert = std::max(0.0, Dot(light, normal));
            corners[k] = {projected[0],
                          projected[1],
                          projected[2],
                          0.3 + 0.7 * lambert,
                          object.texcoords[2 * v],
                          object.texcoords[2 * v + 1]};
        }
        if (!finite)
            continue;
        if (!FacesViewer(camera, object, 3 * t))
            ShadeAsBackFace(corners, raster.backFaceBias);
        FillTriangle(raster, corners, colour, checker);
    }
}

// The code points of UTF-8 text, or nothing when a byte is not part of a valid sequence.
std::optional<std::u32string> CodePoints(std::string_view text)
{
    std::u32string points;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8Length(text, i);
        if (length == 0)
            return std::nullopt;
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k)
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        points += point;
        i += length;
    }
    return points;
}

// The code points of 8-bit text read as Windows-1252 (the exporter's encoding): its
// 0x80-0x9F block holds letters and punctuation; the five bytes it leaves undefined
// stand for the C1 controls of the same number, as in Latin-1.
std::u32string CodePoints1252(std::string_view text)
{
    static constexpr char16_t kBlock80[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u32string points;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        points += byte >= 0x80 && byte <= 0x9F ? char32_t{kBlock80[byte - 0x80]} : char32_t{byte};
    }
    return points;
}

// The converter's upper-casing carried from Windows-1252 bytes to the code points they
// stand for: ASCII and Latin-1 letters, and the four 1252 letters outside Latin-1.
char32_t UpperCase(char32_t c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 0x20;
    switch (c) {
    case 0x0161: return 0x0160;  // s with caron
    case 0x0153: return 0x0152;  // oe
    case 0x017E: return 0x017D;  // z with caron
    case 0x00FF: return 0x0178;  // y with diaeresis
    default: return c;
    }
}

// Names compare as the converter stores them, upper-cased, so letters of any case
// match: byte for byte (an argument in the name's own 8-bit encoding), or as text
// against a UTF-8 argument, accented letters included: the name's own UTF-8, or
// its bytes read as Windows-1252.
bool SameName(std::string_view stored, std::string_view asked)
{
    if (std::equal(stored.begin(), stored.end(), asked.begin(), asked.end(), [](char a, char b) {
            return UpperCase1252(static_cast<unsigned char>(a)) == UpperCase1252(static_cast<unsigned char>(b));
        }))
        return true;
    std::optional<std::u32string> shown = CodePoints(stored);
    if (!shown)
        shown = CodePoints1252(stored);
    const std::optional<std::u32string> typed = CodePoints(asked);
    return typed &&
           std::equal(shown->begin(), shown->end(), typed->begin(), typed->end(),
                      [](char32_t a, char32_t b) { return UpperCase(a) == UpperCase(b); });
}

std::string ObjectNames(const LoadedBundle& loaded)
{
    std::string names;
    for (const bundle::Object& object : loaded.objects)
        names += (names.empty() ? "" : ", ") + DisplayName(object.name);
    return names.empty() ? "none" : names;
}

// The indices of the objects to draw; an --object that names none of them is an error.
std::vector<std::size_t> ObjectsToDraw(const LoadedBundle& loaded, const RenderOptions& options)
{
    std::vector<std::size_t> drawn;
    for (std::size_t i = 0; i < loaded.objects.size(); ++i)
        if (!options.object || SameName(loaded.objects[i].name, *options.object))
            drawn.push_back(i);
    if (options.object && drawn.empty())
        throw ToolError(loaded.path + ": no object named " + *options.object + " (objects: " + ObjectNames(loaded) + ")",
                        kExitUsage);
    return drawn;
}

}  // namespace

std::array<double, 3> Camera::Project(Vec3 bundlePosition) const
{
    const Vec3d w = ToDouble(ToRightHandedYUp(bundlePosition));
    return {centerX + scale * (Dot(w, right) - offsetRight), centerY - scale * (Dot(w, up) - offsetUp), Dot(w, toward)};
}

Rendering Render(const LoadedBundle& loaded, const RenderOptions& options)
{
    Rendering rendering;
    rendering.drawnObjects = ObjectsToDraw(loaded, options);

    rendering.camera = Orient(options.view);
    Frame(rendering.camera, loaded, rendering.drawnObjects, options.size);
    Image& image = rendering.image;
    image.width = image.height = options.size;
    const std::size_t pixels = static_cast<std::size_t>(options.size) * static_cast<std::size_t>(options.size);
    image.rgb.resize(3 * pixels);
    for (std::size_t i = 0; i < pixels; ++i)
        std::copy(kBackground.begin(), kBackground.end(), image.rgb.begin() + static_cast<std::ptrdiff_t>(3 * i));
    Raster raster{image, std::vector<float>(pixels, -INFINITY), 1e-3 * options.size / rendering.camera.scale};
    for (const std::size_t index : rendering.drawnObjects)
        DrawObject(raster, rendering.camera, loaded.objects[index], ObjectColour(index), options.checker);
    return rendering;
}

}  // namespace ase2sgl::tools
