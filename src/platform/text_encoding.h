#ifndef QUARVEL_SRC_PLATFORM_TEXT_ENCODING_H
#define QUARVEL_SRC_PLATFORM_TEXT_ENCODING_H

#include <optional>
#include <string>
#include <string_view>

namespace quarvel::detail {

enum class TextEncoding { Gbk, Utf8, Utf16LE, Utf16BE };

// The UTF-8 byte-order mark, EF BB BF.
inline constexpr std::string_view kUtf8Bom{"\xEF\xBB\xBF", 3};

// True when every byte sequence is well-formed UTF-8 (no overlongs, no
// surrogates, nothing above U+10FFFF). Plain ASCII qualifies.
bool IsValidUtf8(std::string_view bytes) noexcept;

// Converts UTF-8 text to GBK (code page 936) with glibc's iconv; nullopt
// when the text is not valid UTF-8 or holds a character GBK lacks.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

// Converts UTF-16 text (no byte-order mark) to UTF-8; nullopt when it is
// not valid UTF-16 (an odd length, a lone surrogate).
std::optional<std::string> Utf16ToUtf8(std::string_view utf16, bool bigEndian);

// Converts GBK text to UTF-8; nullopt when the text is not valid GBK.
std::optional<std::string> GbkToUtf8(std::string_view gbk);

}  // namespace quarvel::detail

#endif
