// TextBuffer: text made in a buffer of its own and handed on whole. Whoever takes
// it may keep the buffer and leave another in its place (one it is done with, or
// none), so that a piece of a megabyte changes threads without being copied.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace ase2sgl {

struct TextBuffer {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;      // the text: the first `size` bytes
    std::size_t capacity = 0;  // the room in `bytes`

    std::string_view View() const { return {bytes.get(), size}; }
};

}  // namespace ase2sgl
