// An RGB picture in memory and its PNG file: what `sgltool render` draws into and
// writes, and what the tests read back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ase2sgl::tools {

struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // rows top to bottom, 3 bytes per pixel
    std::array<std::uint8_t, 3> At(int x, int y) const
    {
        const std::size_t i =
            3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x));
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// PNG through libpng; throws ToolError (kExitFile) naming the path.
void WritePng(const Image& image, const std::string& path);
// For tests: false when the file is no readable PNG.
bool ReadPng(const std::string& path, Image& image);

}  // namespace ase2sgl::tools
