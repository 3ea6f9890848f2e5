// `sgltool render`: a preview picture drawn on the CPU. An orthographic camera
// frames the bounding box of the objects drawn; triangles are filled with a depth
// buffer, one colour per object, shaded by the bundle's normals under a light from
// the upper left (a zero or non-finite normal is replaced by its face's normal, as
// for glTF), with an optional checker pattern from the texture coordinates.
#pragma once

#include "tools/loaded_bundle.h"
#include "tools/png_file.h"

#include <cstdint>
#include <optional>

namespace ase2sgl::tools {

// Views of the scene, named as in the ASE's modelling tool (Z up there): front looks
// along +Y of the ASE, top down its Z axis, side from +X; iso from front, right and
// above (45 degrees round, 30 degrees up).
enum class View { kFront, kTop, kSide, kIso };

struct RenderOptions {
    int size = 512;  // width and height in pixels
    View view = View::kIso;
    std::optional<std::string> object;  // draw only the objects of this name
    bool checker = false;
};

inline constexpr std::array<std::uint8_t, 3> kBackground = {48, 48, 56};

// Maps bundle positions to the picture: x to the right, y down, depth toward the viewer.
struct Camera {
    Vec3 right{}, up{}, toward{};  // in the right-handed Y-up frame (see ToRightHandedYUp)
    double scale = 1, centerX = 0, centerY = 0, offsetRight = 0, offsetUp = 0;
    std::array<double, 3> Project(Vec3 bundlePosition) const;
};

struct Rendering {
    Image image;
    Camera camera;
    std::vector<std::size_t> drawnObjects;  // indices of the objects drawn
};

// Throws ToolError (kExitUsage) when options.object names no object.
Rendering Render(const LoadedBundle& loaded, const RenderOptions& options);

}  // namespace ase2sgl::tools
