// Damaged ASE, built line by line: the text is split at its line feeds, one line
// or the whole is changed, and the lines are joined again.
#include "support/ase_damage.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <vector>

namespace ase2sgl::damage {

namespace {

constexpr std::string_view kNodeHeader = "\t*NODE_NAME \"";

// Numbers a hostile or careless writer puts where the exporter writes an index or
// a coordinate: past every integer and float range, negative, signed zero, forms
// the scanner does not read, and nothing at all.
constexpr std::array<std::string_view, 15> kHostileNumbers = {"99999999999999999999",
                                                              "2147483648",
                                                              "-2147483649",
                                                              "-1",
                                                              "-0",
                                                              "65535",
                                                              "65536",
                                                              "1e39",
                                                              "-1e39",
                                                              "1e-50",
                                                              "nan",
                                                              "inf",
                                                              "0x10",
                                                              "x",
                                                              ""};

struct Text {
    std::vector<std::string> lines;
    bool finalLineFeed = true;

    explicit Text(std::string_view bytes)
    {
        std::size_t start = 0;
        for (std::size_t lf = bytes.find('\n'); lf != std::string_view::npos; lf = bytes.find('\n', start)) {
            lines.emplace_back(bytes.substr(start, lf - start));
            start = lf + 1;
        }
        finalLineFeed = start == bytes.size();
        if (!finalLineFeed)
            lines.emplace_back(bytes.substr(start));
    }

    std::string Join(std::string_view lineEnd = "\n") const
    {
        std::string bytes;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            bytes += lines[i];
            if (i + 1 < lines.size() || finalLineFeed)
                bytes += lineEnd;
        }
        return bytes;
    }
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The numbers of a line as [start, end) byte ranges: an optional sign, digits with
// an optional fraction, an optional exponent.
std::vector<std::pair<std::size_t, std::size_t>> NumberSpans(std::string_view line)
{
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t start = i;
        if (line[i] == '-' || line[i] == '+')
            ++i;
        if (i == line.size() || !IsDigit(line[i]) || (start > 0 && IsDigit(line[start - 1]))) {
            i = start + 1;
            continue;
        }
        while (i < line.size() && (IsDigit(line[i]) || line[i] == '.'))
            ++i;
        if (i + 1 < line.size() && (line[i] == 'e' || line[i] == 'E') &&
            (IsDigit(line[i + 1]) || line[i + 1] == '-' || line[i + 1] == '+')) {
            i += 2;
            while (i < line.size() && IsDigit(line[i]))
                ++i;
        }
        spans.emplace_back(start, i);
    }
    return spans;
}

bool IsListLine(std::string_view line)
{
    return line.find("*MESH_VERTEX") != std::string_view::npos || line.find("*MESH_FACE") != std::string_view::npos ||
           line.find("*MESH_TVERT") != std::string_view::npos || line.find("*MESH_TFACE") != std::string_view::npos;
}

std::string Replaced(std::string_view line, std::pair<std::size_t, std::size_t> span, std::string_view with)
{
    std::string out(line.substr(0, span.first));
    out += with;
    out += line.substr(span.second);
    return out;
}

std::string WithByteInMiddle(std::string_view line, char byte)
{
    std::string out(line);
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(out.size() / 2), byte);
    return out;
}

std::string TabsToBlanks(std::string line)
{
    for (std::size_t i = 0; i < line.size() && line[i] == '\t'; ++i)
        line[i] = ' ';
    return line;
}

// The list number of a list line (its first number) moved by `delta`.
std::string Renumbered(std::string_view line, long long delta)
{
    const auto spans = NumberSpans(line);
    if (spans.empty())
        return std::string(line);
    const std::string number(line.substr(spans[0].first, spans[0].second - spans[0].first));
    const long long value = std::strtoll(number.c_str(), nullptr, 10);  // saturates on overflow
    const bool room =
        value < std::numeric_limits<long long>::max() - 10000 && value > std::numeric_limits<long long>::min() + 10000;
    return Replaced(line, spans[0], std::to_string(room ? value + delta : value));
}

// Node names at the edges of the name field, and header lines cut short.
std::vector<std::pair<std::string, std::string>> HostileHeaders()
{
    std::vector<std::pair<std::string, std::string>> headers;
    for (const std::size_t length : {0UL, 1UL, 2UL, 254UL, 255UL, 10000UL})
        headers.emplace_back("name of " + std::to_string(length) + " bytes",
                             std::string(kNodeHeader) + std::string(length, 'n') + "\"");
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high += static_cast<char>(c);
    headers.emplace_back("name of high bytes", std::string(kNodeHeader) + high + "\"");
    headers.emplace_back("header ending at its opening quote", std::string(kNodeHeader));
    headers.emplace_back("header without closing quote", std::string(kNodeHeader) + "Box");
    headers.emplace_back("header with text after the quote", std::string(kNodeHeader) + "Box\" x");
    return headers;
}

void ForEachLineDamage(const Text& text, const VariantVisitor& visit)
{
    const std::size_t n = text.lines.size();
    auto emit = [&](std::string label, std::size_t i, auto change) {
        Text damaged = text;
        change(damaged);
        visit(Variant{label + " at line " + std::to_string(i + 1), damaged.Join()});
    };
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& line = text.lines[i];
        emit("cut after", i, [&](Text& t) {
            t.lines.resize(i + 1);
            t.finalLineFeed = false;
        });
        emit("cut inside", i, [&](Text& t) {
            t.lines.resize(i + 1);
            t.lines[i].resize(line.size() / 2);
            t.finalLineFeed = false;
        });
        emit("dropped", i, [&](Text& t) { t.lines.erase(t.lines.begin() + static_cast<std::ptrdiff_t>(i)); });
        emit("duplicated", i, [&](Text& t) { t.lines.insert(t.lines.begin() + static_cast<std::ptrdiff_t>(i), line); });
        if (i + 1 < n)
            emit("swapped with the next", i, [&](Text& t) { std::swap(t.lines[i], t.lines[i + 1]); });
        emit("indented one tab more", i, [&](Text& t) { t.lines[i].insert(0, 1, '\t'); });
        if (!line.empty() && line[0] == '\t')
            emit("indented one tab less", i, [&](Text& t) { t.lines[i].erase(0, 1); });
        emit("tabs turned into blanks", i, [&](Text& t) { t.lines[i] = TabsToBlanks(line); });
        emit("0x1A in the middle", i, [&](Text& t) { t.lines[i] = WithByteInMiddle(line, '\x1A'); });
        emit("NUL in the middle", i, [&](Text& t) { t.lines[i] = WithByteInMiddle(line, '\0'); });
        if (!IsListLine(line))
            continue;
        for (const long long delta : {1LL, -1LL, 10000LL})
            emit("renumbered by " + std::to_string(delta), i, [&](Text& t) { t.lines[i] = Renumbered(line, delta); });
        const auto spans = NumberSpans(line);
        for (std::size_t s = 0; s < spans.size(); ++s) {
            for (const std::string_view number : kHostileNumbers) {
                emit("number " + std::to_string(s) + " made \"" + std::string(number) + "\"", i,
                     [&](Text& t) { t.lines[i] = Replaced(line, spans[s], number); });
            }
        }
    }
}

void ForEachTextDamage(const Text& text, const VariantVisitor& visit)
{
    visit(Variant{"CR-only line ends", text.Join("\r")});
    visit(Variant{"CR CR LF line ends", text.Join("\r\r\n")});
    visit(Variant{"CR LF line ends", text.Join("\r\n")});
    Text unterminated = text;
    unterminated.finalLineFeed = false;
    visit(Variant{"no final line feed", unterminated.Join()});
    for (const auto& [label, header] : HostileHeaders()) {
        Text renamed = text;
        for (std::string& line : renamed.lines) {
            if (line.starts_with(kNodeHeader))
                line = header;
        }
        visit(Variant{label, renamed.Join()});
    }
}

// SplitMix64: small, fast and the same on every platform.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(Next() % bound); }

  private:
    std::uint64_t state_;
};

// One random damage applied in place; gives its label.
std::string DamageOnce(Text& text, Random& random)
{
    if (text.lines.empty())
        text.lines.emplace_back();
    const std::size_t n = text.lines.size();
    const std::size_t i = random.Below(n);
    std::string& line = text.lines[i];
    const std::string at = " at line " + std::to_string(i + 1);
    switch (random.Below(12)) {
    case 0:
        text.lines.resize(i + 1);
        text.finalLineFeed = random.Below(2) == 0;
        return "cut" + at;
    case 1: text.lines.erase(text.lines.begin() + static_cast<std::ptrdiff_t>(i)); return "dropped" + at;
    case 2: {
        // A block repeated: many node headers, long lists, lists met twice.
        const std::size_t length = 1 + random.Below(std::min<std::size_t>(n - i, 40));
        const std::size_t times = 1 + random.Below(20);
        const std::vector<std::string> block(text.lines.begin() + static_cast<std::ptrdiff_t>(i),
                                             text.lines.begin() + static_cast<std::ptrdiff_t>(i + length));
        for (std::size_t k = 0; k < times; ++k)
            text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(i), block.begin(), block.end());
        return std::to_string(length) + " lines repeated " + std::to_string(times) + " times" + at;
    }
    case 3: {
        const std::size_t j = random.Below(n);
        std::swap(text.lines[i], text.lines[j]);
        return "swapped with line " + std::to_string(j + 1) + at;
    }
    case 4: line.insert(0, 1, '\t'); return "indented one tab more" + at;
    case 5:
        if (!line.empty() && line[0] == '\t')
            line.erase(0, 1);
        return "indented one tab less" + at;
    case 6: line = WithByteInMiddle(line, random.Below(2) == 0 ? '\0' : '\x1A'); return "control byte" + at;
    case 7: line = Renumbered(line, static_cast<long long>(random.Below(5)) - 2); return "renumbered" + at;
    case 8: {
        const auto spans = NumberSpans(line);
        if (spans.empty())
            return "no number" + at;
        line = Replaced(line, spans[random.Below(spans.size())], kHostileNumbers[random.Below(kHostileNumbers.size())]);
        return "hostile number" + at;
    }
    case 9: {
        const auto headers = HostileHeaders();
        line = headers[random.Below(headers.size())].second;
        return "hostile header" + at;
    }
    case 10: line = line.substr(0, random.Below(line.size() + 1)); return "line cut short" + at;
    default: {
        const std::size_t j = random.Below(n);
        text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(j), line);
        return "copied to line " + std::to_string(j + 1) + at;
    }
    }
}

}  // namespace

void ForEachDamage(std::string_view ase, const VariantVisitor& visit)
{
    const Text text(ase);
    ForEachLineDamage(text, visit);
    ForEachTextDamage(text, visit);
}

void ForEachStackedDamage(std::string_view ase, std::uint64_t seed, int count, const VariantVisitor& visit)
{
    const Text original(ase);
    Random random(seed);
    for (int k = 0; k < count; ++k) {
        Text text = original;
        std::string label;
        const std::size_t damages = 1 + random.Below(4);
        for (std::size_t d = 0; d < damages; ++d)
            label += (d > 0 ? ", " : "") + DamageOnce(text, random);
        static constexpr std::array<std::string_view, 4> kLineEnds = {"\n", "\n", "\r", "\r\r\n"};
        const std::string_view lineEnd = kLineEnds[random.Below(kLineEnds.size())];
        visit(Variant{"stacked " + std::to_string(k) + ": " + label, text.Join(lineEnd)});
    }
}

}  // namespace ase2sgl::damage
