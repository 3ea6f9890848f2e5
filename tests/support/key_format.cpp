#include "support/key_format.h"

#include <charconv>

namespace ase2sgl::testing {

void FormatKey(std::string& out, std::string_view keyFormat, std::int64_t n)
{
    out.clear();
    char digits[24];
    const auto [digitsEnd, ec] = std::to_chars(digits, digits + sizeof digits, n);
    const std::string_view number(digits, static_cast<std::size_t>(digitsEnd - digits));
    for (std::size_t i = 0; i < keyFormat.size(); ++i) {
        const char c = keyFormat[i];
        if (c != '%' || i + 1 == keyFormat.size()) {
            out += c;
            continue;
        }
        const char next = keyFormat[++i];
        if (next == '%') {
            out += '%';
        } else if (next == 'd') {
            out += number;
        } else if (next == '4' && i + 1 < keyFormat.size() && keyFormat[i + 1] == 'd') {
            ++i;
            if (number.size() < 4)
                out.append(4 - number.size(), ' ');
            out += number;
        } else {  // not a conversion this table uses: copy it as it stands
            out += '%';
            out += next;
        }
    }
}

}  // namespace ase2sgl::testing
