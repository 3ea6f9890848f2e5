// Damaged ASE: the ways exported files arrive broken (cut transfers, hand edits,
// other exporters, other line ends), applied to a well-formed text. The fuzz seeds
// and the robustness tests both draw their hostile inputs from here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ase2sgl::damage {

struct Variant {
    std::string label;  // what was done, so a failing case names itself
    std::string bytes;
};
using VariantVisitor = std::function<void(const Variant&)>;

// Every single damage, one at a time, in a fixed order:
//   per line: the text cut after it and inside it; the line dropped, duplicated,
//   swapped with the next, indented one tab more and one less, its tabs turned into
//   blanks; a 0x1A and a NUL byte put in its middle; on list lines the list number
//   renumbered, and every number replaced by huge, negative and non-numbers;
//   per text: CR-only, CR CR LF and CR LF line ends, no final line feed; node names
//   of 0, 1, 2, 254, 255 and 10000 bytes, of high bytes, and headers cut short.
void ForEachDamage(std::string_view ase, const VariantVisitor& visit);

// `count` variants, each with one to four damages stacked, chosen by a generator
// seeded with `seed`: the same arguments give the same variants.
void ForEachStackedDamage(std::string_view ase, std::uint64_t seed, int count, const VariantVisitor& visit);

}  // namespace ase2sgl::damage
