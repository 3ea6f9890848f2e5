// Scanning a list line from where its key ends (see ase/keys.h for why this reads
// what scanning the whole format from the line's start reads).
#pragma once

#include "ase/line_source.h"

#include <string_view>

namespace ase2sgl {

// ScanLine of `line` under `tail`, for a line that begins with `matchedKey`, the
// numbered key the caller has just compared it with.
inline int ScanAfterKey(std::string_view line, std::string_view matchedKey, std::string_view tail,
                        std::initializer_list<ScanTarget> targets)
{
    return ScanLine(line.substr(matchedKey.size()), tail, targets);
}

// ScanLine of `line` under `whole` (= `head` + `tail`), taking the short way when the
// line begins with `head`, as it does in a well-formed list.
inline int ScanWithHead(std::string_view line, std::string_view head, std::string_view tail, std::string_view whole,
                        std::initializer_list<ScanTarget> targets)
{
    if (StartsWith(line, head))
        return ScanLine(line.substr(head.size()), tail, targets);
    return ScanLine(line, whole, targets);
}

}  // namespace ase2sgl
