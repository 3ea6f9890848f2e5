// `sgltool export`: a bundle as glTF 2.0 (.gltf with the buffer embedded, or .glb)
// or Wavefront OBJ, one mesh and node (OBJ: one object) per bundle object, under
// its name.
//
// Conventions: the bundle keeps the ASE's x, z, y (Y up, left-handed). glTF and OBJ
// get x, y, -z of the bundle (x, z, -y of the ASE): right-handed with Y up, the
// scene's front facing +Z. That is a rotation, so each triangle keeps its corner
// order A, B, C and faces where it faced in the ASE scene (counter-clockwise seen
// from its front). Texture coordinates: ASE and OBJ put v = 0 at the bottom of the
// image, glTF at the top, so glTF gets v' = 1 - v and OBJ v unchanged.
// glTF needs unit normals and finite values: a normal is normalised, and one of
// zero or non-finite length is replaced by its triangle's face normal (or +Y for a
// degenerate triangle); NaN and infinite positions and texture coordinates become
// 0. OBJ gets the values as they are. An object without vertices becomes a node
// without a mesh (glTF) or an empty object (OBJ).
#pragma once

#include "tools/loaded_bundle.h"

namespace ase2sgl::tools {

enum class ExportFormat { kGltf, kGlb, kObj };

// By the output's extension (.gltf, .glb, .obj, any case); throws ToolError
// (kExitUsage) for any other.
ExportFormat FormatOf(const std::string& outputPath);

// Throws ToolError (kExitFile) naming the output when it cannot be written.
void ExportGltf(const LoadedBundle& loaded, const std::string& outputPath, bool binary);
void ExportObj(const LoadedBundle& loaded, const std::string& outputPath);

// The normal glTF gets for vertex `vertex` (see above).
Vec3 ExportedNormal(const bundle::Object& object, std::size_t vertex);

}  // namespace ase2sgl::tools
