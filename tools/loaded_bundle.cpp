// Loading bundles for sgltool, and the names and messages every subcommand shares.
#include "tools/loaded_bundle.h"

#include <cstring>

namespace ase2sgl::tools {

std::string DescribeStatus(const std::string& path, const bundle::ReadStatus& status)
{
    std::string message = path + ": " + bundle::Describe(status.error);
    if (status.systemError != 0)
        return message + ": " + std::strerror(status.systemError);
    if (status.error == bundle::ReadError::kCannotOpen || status.error == bundle::ReadError::kNotRegularFile ||
        status.error == bundle::ReadError::kCannotMap)
        return message;
    message += " at byte " + std::to_string(status.offset);
    if (status.object >= 0)
        message += " (object " + std::to_string(status.object) + ")";
    return message;
}

void LoadBundle(const std::string& path, LoadedBundle& loaded)
{
    loaded.path = path;
    loaded.objects.clear();
    bundle::ReadStatus status = loaded.file.Open(path.c_str());
    bundle::Bundle reader;
    if (status)
        status = reader.Open(loaded.file.Bytes());
    if (!status)
        throw ToolError(DescribeStatus(path, status), kExitFile);
    loaded.objects.reserve(static_cast<std::size_t>(reader.ObjectCount()));
    for (const bundle::Object& object : reader)
        loaded.objects.push_back(object);
}

std::size_t Utf8Length(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) > 0x9F) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) > 0x8F))
        return 0;
    return length;
}


std::string DisplayName(std::string_view name)
{
    bool utf8 = true;
    for (std::size_t i = 0; i < name.size() && utf8;) {
        const std::size_t length = Utf8Length(name, i);
        utf8 = length != 0;
        i += length;
    }
    std::string text;
    text.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            text += '?';
        } else if (byte < 0x80 || utf8) {
            text += c;
        } else {  // Latin-1
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

}  // namespace ase2sgl::tools
