#include "params/name_match.h"

#include <cstdint>
#include <string>

namespace quarvel::detail {
namespace {

constexpr char32_t kIdeographicSpace = 0x3000;

// Code points of UTF-8 text; a malformed byte stands for itself (as a code
// point above U+10FFFF, so it equals only the same byte).
std::u32string Decode(std::string_view s) {
    std::u32string out;
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

}  // namespace

FoldedName Fold(std::string_view utf8) {
    const std::u32string decoded = Decode(utf8);
    std::size_t begin = 0;
    std::size_t end = decoded.size();
    while (begin < end && IsSpace(decoded[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(decoded[end - 1])) {
        --end;
    }
    FoldedName name;
    name.spaced = begin != 0 || end != decoded.size();
    name.halfWidth = decoded.substr(begin, end - begin);
    for (char32_t& c : name.halfWidth) {
        if (c >= 0xFF01 && c <= 0xFF5E) {
            c -= 0xFEE0;
            name.wide = true;
        } else if (c == kIdeographicSpace) {
            c = ' ';
            name.wide = true;
        }
    }
    name.folded = name.halfWidth;
    for (char32_t& c : name.folded) {
        if (c >= 'A' && c <= 'Z') {
            c += 'a' - 'A';
        }
    }
    return name;
}

NameDifference CompareNames(const FoldedName& expected, const FoldedName& found) {
    NameDifference d;
    d.matches = expected.folded == found.folded;
    if (d.matches) {
        d.space = expected.spaced || found.spaced;
        d.width = expected.wide || found.wide;
        d.letterCase = expected.halfWidth != found.halfWidth;
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
