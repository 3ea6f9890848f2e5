// The default output path and the outputs a conversion refuses.
#include "conversion/output_path.h"

#include "platform/file_identity.h"
#include "platform/input_file.h"
#include "platform/output_file.h"

#include <array>

namespace ase2sgl {

namespace {

// How much of an existing output is read to tell ASE text: the header line and
// what may precede it, never the whole file.
constexpr std::size_t kSniffedBytes = 512;

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsKeyCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// UTF-16 text is read as its code units below 256; any other unit becomes a byte
// that no key holds. `first` is the offset of the first unit's low byte.
std::string NarrowUtf16(std::string_view bytes, std::size_t first)
{
    std::string narrow;
    const std::size_t high = first == 0 ? 1 : 0;  // the other byte of each unit, relative to the pair
    for (std::size_t pair = 0; pair + 1 < bytes.size(); pair += 2)
        narrow += bytes[pair + high] == 0 ? bytes[pair + first] : '\x80';
    return narrow;
}

// The head as 8-bit text: byte order marks dropped, UTF-16 narrowed. Without a
// mark, ASE text in UTF-16 shows as an ASCII byte beside a zero byte.
std::string AsEightBit(std::string_view head)
{
    if (head.starts_with("\xEF\xBB\xBF"))
        return std::string(head.substr(3));
    if (head.starts_with("\xFF\xFE"))
        return NarrowUtf16(head.substr(2), 0);
    if (head.starts_with("\xFE\xFF"))
        return NarrowUtf16(head.substr(2), 1);
    if (head.size() >= 2 && head[0] != 0 && head[1] == 0)
        return NarrowUtf16(head, 0);
    if (head.size() >= 2 && head[0] == 0 && head[1] != 0)
        return NarrowUtf16(head, 1);
    return std::string(head);
}

bool HoldsAseText(const std::string& path)
{
    platform::InputFile file;
    if (file.Open(path) != 0)
        return false;  // unreadable: the write reports what there is to report
    std::array<char, kSniffedBytes> head{};
    int error = 0;
    const std::int64_t n = file.ReadAt(head.data(), head.size(), 0, error);
    return n > 0 && LooksLikeAseText(std::string_view(head.data(), static_cast<std::size_t>(n)));
}

}  // namespace

std::string DefaultOutputPath(const std::string& inputPath)
{
    const std::size_t kept = inputPath.size() > 3 ? inputPath.size() - 3 : 0;
    return inputPath.substr(0, kept) + "sgl";
}

void CheckDefaultOutputPath(const std::string& outputPath)
{
    if (platform::InSystemFolder(outputPath))
        throw OutputRefused(outputPath, "chemin derive de l'entree dans un dossier du systeme (donner la sortie)");
}

OutputHazard FindOutputHazard(const std::string& inputPath, const std::string& outputPath)
{
    if (platform::KindOf(outputPath) != platform::PathKind::kRegularFile)
        return OutputHazard::kNone;
    if (platform::SameFile(inputPath, outputPath))
        return OutputHazard::kIsTheInput;
    if (HoldsAseText(outputPath))
        return OutputHazard::kHoldsAseText;
    return OutputHazard::kNone;
}

void CheckOutputPath(const std::string& inputPath, const std::string& outputPath)
{
    switch (FindOutputHazard(inputPath, outputPath)) {
    case OutputHazard::kNone: return;
    case OutputHazard::kIsTheInput: throw OutputRefused(outputPath, "meme fichier que l'entree");
    case OutputHazard::kHoldsAseText: throw OutputRefused(outputPath, "fichier ASE existant");
    }
}

bool LooksLikeAseText(std::string_view head)
{
    const std::string text = AsEightBit(head);
    std::size_t at = 0;
    while (at < text.size() && IsWhiteSpace(text[at]))
        ++at;
    if (at == text.size() || text[at] != '*')
        return false;
    const std::size_t key = ++at;
    while (at < text.size() && IsKeyCharacter(text[at]))
        ++at;
    return at > key && (at == text.size() || IsWhiteSpace(text[at]));
}

}  // namespace ase2sgl
