// `sgltool convert` without the normalized text between: each mesh, as normalize
// puts it in order and repairs it (normalize/mesh_repair.h), becomes the record
// ase2sgl writes when it reads that mesh's normalized text. Every float is the
// converter's own reading of the text normalize would write for it (the value's
// text when it is copied, else its printed value, "%.4f" for a computed normal,
// the placeholder texture vertex), and every name the converter's own taking of the
// node header line; so the bundle is byte for byte the one of the text route, at
// the cost of neither writing that text nor reading it twice.
#pragma once

#include "bundle/mesh_bundle.h"
#include "normalize/mesh_repair.h"
#include "normalize/normalize.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ase2sgl::tools {

// Thrown by MeshRecords for a mesh whose normalized text the converter might read
// otherwise than the records say (a name holding a line end, a zero byte or the
// 0x1A that ends its text; counts past its 32-bit ones): the bundle is then made
// through the text.
struct TakeTheTextRoute {};

// Writes each mesh handed to it as its bundle record through `bundle`, asking
// `reserve` for room ahead as the bundle grows (see AtomicOutputFile::Reserve).
class MeshRecords : public normalize::MeshTarget {
  public:
    MeshRecords(BundleWriter& bundle, std::function<void(std::uint64_t)> reserve);
    std::int64_t Mesh(const normalize::SceneNode& node, const normalize::OrderedMesh& ordered,
                      std::vector<tolerant::Note>& notes, normalize::UnreadableValues& unreadable) override;
    std::int32_t Objects() const { return objects_; }

  private:
    BundleWriter& bundle_;
    RoomAhead room_;
    std::int32_t objects_ = 0;
    // Reused from mesh to mesh: positions per vertex, U and -V per texture vertex,
    // the record's corners.
    std::vector<std::array<float, 3>> positions_;
    std::vector<std::array<float, 2>> texcoords_;
    std::vector<CornerRecord> corners_;
};

}  // namespace ase2sgl::tools
