// The key of the next line of a numbered list ("\t\t\t*MESH_VERTEX %4d\t" with 0,
// 1, 2, ...), kept formatted and advanced in place like an odometer, so that a run
// of list lines costs one compare per line and no formatting. The bytes are always
// those FormatKey gives for the same format and number; "%4d" keeps its padding
// ("   9" then "  10") and a number past 9999 is written whole ("10000"); "%d"
// numbers are plain, so the key for 1 is still a prefix of the line of 12.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ase2sgl {

class NumberedKey {
  public:
    // `keyFormat` holds exactly one "%4d" or "%d" and no other '%'.
    explicit NumberedKey(std::string_view keyFormat, std::int64_t n = 0)
    {
        const std::size_t percent = keyFormat.find('%');
        prefix_ = keyFormat.substr(0, percent);
        width_ = keyFormat[percent + 1] == '4' ? 4 : 0;
        suffix_ = keyFormat.substr(percent + (width_ == 4 ? 3 : 2));
        Reset(n);
    }

    void Reset(std::int64_t n)
    {
        n_ = n;
        std::memcpy(bytes_, prefix_.data(), prefix_.size());
        char digits[24];
        const std::size_t length =
            static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
        fieldStart_ = prefix_.size();
        const std::size_t pad = length < width_ ? width_ - length : 0;
        std::memset(bytes_ + fieldStart_, ' ', pad);
        digitsStart_ = fieldStart_ + pad;
        std::memcpy(bytes_ + digitsStart_, digits, length);
        digitsEnd_ = digitsStart_ + length;
        std::memcpy(bytes_ + digitsEnd_, suffix_.data(), suffix_.size());
        size_ = digitsEnd_ + suffix_.size();
    }

    // The key for the next number. Inlined into every list run: called once per list
    // line, it costs a call per line otherwise (the compiler stops inlining it once
    // the observed and the plain face reads both hold it).
    [[gnu::always_inline]] void Advance()
    {
        if (n_ < 0) {
            Reset(n_ + 1);
            return;
        }
        ++n_;
        for (std::size_t i = digitsEnd_; i-- > digitsStart_;) {
            if (bytes_[i] != '9') {
                ++bytes_[i];
                return;
            }
            bytes_[i] = '0';
        }
        // Every digit was 9: one more digit, in a padding blank if the field has one.
        if (digitsStart_ > fieldStart_) {
            bytes_[--digitsStart_] = '1';
            return;
        }
        Reset(n_);
    }

    std::int64_t Number() const { return n_; }
    std::string_view View() const { return std::string_view(bytes_, size_); }

  private:
    std::string_view prefix_, suffix_;
    std::size_t width_ = 0;
    std::int64_t n_ = 0;
    char bytes_[64] = {};
    std::size_t size_ = 0, fieldStart_ = 0, digitsStart_ = 0, digitsEnd_ = 0;
};

}  // namespace ase2sgl
