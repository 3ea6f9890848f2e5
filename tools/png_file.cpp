// PNG files through stb_image_write and stb_image (header-only, compiled into this
// file alone): the same code on every host, so a picture is the same bytes on
// Linux and Windows. The bytes are made in memory and written with one open of the
// path, which on Windows takes UTF-8 through the wide file calls.
#include "tools/png_file.h"

#include "tools/exit_status.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#ifdef _WIN32
#include "platform/windows_support.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::unique_ptr<std::FILE, FileCloser> OpenFile(const std::string& path, const char* mode)
{
#ifdef _WIN32
    return std::unique_ptr<std::FILE, FileCloser>(
        ::_wfopen(platform::Wide(path).c_str(), platform::Wide(mode).c_str()));
#else
    return std::unique_ptr<std::FILE, FileCloser>(std::fopen(path.c_str(), mode));
#endif
}

void AppendBytes(void* context, void* data, int size)
{
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

}  // namespace

void WritePng(const Image& image, const std::string& path)
{
    std::string bytes;
    if (stbi_write_png_to_func(AppendBytes, &bytes, image.width, image.height, 3, image.rgb.data(), image.width * 3) ==
        0)
        throw ToolError(path + ": cannot write: the picture is too large for PNG", kExitFile);
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file = OpenFile(path, "wb");
    if (!file)
        throw ToolError(path + ": cannot write: " + std::strerror(errno), kExitFile);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (!written || std::fclose(file.release()) != 0)
        throw ToolError(path + ": cannot write: " + std::strerror(errno), kExitFile);
}

bool ReadPng(const std::string& path, Image& image)
{
    std::unique_ptr<std::FILE, FileCloser> file = OpenFile(path, "rb");
    if (!file)
        return false;
    std::string bytes;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        bytes.append(buffer, got);
    if (std::ferror(file.get()) || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return false;
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), static_cast<int>(bytes.size()), &width,
                              &height, &channels, 3),
        stbi_image_free);
    if (!pixels)
        return false;
    image.width = width;
    image.height = height;
    image.rgb.assign(pixels.get(),
                     pixels.get() + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    return true;
}

}  // namespace ase2sgl::tools
