// Scanning a list line from where its key ends (see ase/keys.h for why this reads
// what scanning the whole format from the line's start reads), with the format
// compiled (ase/scan_fields.h).
#pragma once

#include "ase/keys.h"
#include "ase/line_source.h"
#include "ase/scan_fields.h"

#include <string_view>

namespace ase2sgl {

// ScanLine of `line` under `kTail`, for a line that begins with `matchedKey`, the
// numbered key the caller has just compared it with.
template <const std::string_view& kTail, typename... Targets>
inline int ScanAfterKey(std::string_view line, std::string_view matchedKey, Targets&... targets)
{
    return ScanFixed<kTail>(line.substr(matchedKey.size()), targets...);
}

// ScanLine of `line` under `kWhole` (= `kHead` + `kTail`), taking the short way when
// the line begins with `kHead`, as it does in a well-formed list.
template <const std::string_view& kHead, const std::string_view& kTail, const std::string_view& kWhole,
          typename... Targets>
inline int ScanWithHead(std::string_view line, Targets&... targets)
{
    static_assert(keys::split::Joins(kWhole, kHead, kTail, false) && keys::split::EndsCleanly(kHead, kTail));
    if (StartsWith(line, kHead))
        return ScanFixed<kTail>(line.substr(kHead.size()), targets...);
    return ScanLine(line, kWhole, {targets...});
}

}  // namespace ase2sgl
