#include "params/name_match.h"

#include <cstdint>
#include <vector>

namespace quarvel::detail {
namespace {

constexpr char32_t kIdeographicSpace = 0x3000;

// Code points of UTF-8 text; a malformed byte stands for itself (as a code
// point above U+10FFFF, so it equals only the same byte).
std::vector<char32_t> Decode(std::string_view s) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<std::uint8_t>(s[i]);
        std::size_t length = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > s.size()) {
            out.push_back(0x110000u + b0);
            ++i;
            continue;
        }
        char32_t c = length == 1 ? b0 : static_cast<char32_t>(b0 & (0x7F >> length));
        bool ok = true;
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<std::uint8_t>(s[i + k]);
            ok = ok && (b & 0xC0) == 0x80;
            c = (c << 6) | (b & 0x3F);
        }
        if (!ok) {
            out.push_back(0x110000u + b0);
            ++i;
            continue;
        }
        out.push_back(c);
        i += length;
    }
    return out;
}

bool IsSpace(char32_t c) { return c == ' ' || c == '\t' || c == kIdeographicSpace; }

std::vector<char32_t> Trimmed(const std::vector<char32_t>& s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsSpace(s[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(s[end - 1])) {
        --end;
    }
    return std::vector<char32_t>(s.begin() + static_cast<std::ptrdiff_t>(begin), s.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<char32_t> HalfWidth(std::vector<char32_t> s) {
    for (char32_t& c : s) {
        if (c >= 0xFF01 && c <= 0xFF5E) {
            c -= 0xFEE0;
        } else if (c == kIdeographicSpace) {
            c = ' ';
        }
    }
    return s;
}

std::vector<char32_t> LowerCase(std::vector<char32_t> s) {
    for (char32_t& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c += 'a' - 'A';
        }
    }
    return s;
}

}  // namespace

NameDifference CompareNames(std::string_view expected, std::string_view found) {
    const std::vector<char32_t> e = Decode(expected);
    const std::vector<char32_t> f = Decode(found);
    NameDifference d;
    const std::vector<char32_t> et = Trimmed(e);
    const std::vector<char32_t> ft = Trimmed(f);
    const std::vector<char32_t> ew = HalfWidth(et);
    const std::vector<char32_t> fw = HalfWidth(ft);
    d.matches = LowerCase(ew) == LowerCase(fw);
    if (d.matches) {
        d.space = et != e || ft != f;
        d.width = ew != et || fw != ft;
        d.letterCase = ew != fw;
    }
    return d;
}

std::string DescribeDifferences(const NameDifference& section, const NameDifference& key) {
    std::string text;
    const auto add = [&text](bool applies, const char* what) {
        if (applies) {
            text += text.empty() ? "" : ", ";
            text += what;
        }
    };
    add(section.letterCase || key.letterCase, "letter case");
    add(section.width || key.width, "full-width/half-width form");
    add(section.space || key.space, "surrounding space");
    return text;
}

}  // namespace quarvel::detail
