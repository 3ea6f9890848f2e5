// PNG files through libpng's simplified interface (no setjmp needed).
#include "tools/png_file.h"

#include "tools/exit_status.h"

#include <png.h>

#include <cerrno>
#include <cstring>

namespace ase2sgl::tools {

void WritePng(const Image& image, const std::string& path)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    errno = 0;
    if (png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr) == 0) {
        const std::string reason = errno != 0 ? std::strerror(errno) : png.message;
        png_image_free(&png);
        throw ToolError(path + ": cannot write: " + reason, kExitFile);
    }
}

bool ReadPng(const std::string& path, Image& image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0)
        return false;
    png.format = PNG_FORMAT_RGB;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgb.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr) == 0) {
        png_image_free(&png);
        return false;
    }
    return true;
}

}  // namespace ase2sgl::tools
