#include "platform/text_encoding.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <iconv.h>

namespace quarvel::detail {
namespace {

class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) noexcept : handle_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (valid()) {
            iconv_close(handle_);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool valid() const noexcept { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const noexcept { return handle_; }

private:
    iconv_t handle_;
};

// Converts the whole text or nothing: an invalid or unconvertible sequence
// gives nullopt.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view text) {
    // ASCII reads the same in GBK and UTF-8: no converter needed.
    bool ascii = true;
    for (const char c : text) {
        ascii = ascii && (static_cast<unsigned char>(c) & 0x80) == 0;
    }
    if (ascii) {
        return std::string(text);
    }
    IconvHandle cd(to, from);
    if (!cd.valid()) {
        return std::nullopt;
    }
    std::string out(text.size() + 16, '\0');  // grown on demand (GBK to UTF-8 takes up to 1.5x)
    char* in = const_cast<char*>(text.data());  // iconv's interface is not const-correct
    std::size_t inLeft = text.size();
    std::size_t used = 0;
    for (;;) {
        char* dst = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const bool flushing = inLeft == 0;
        const std::size_t rc = flushing ? iconv(cd.get(), nullptr, nullptr, &dst, &outLeft)
                                        : iconv(cd.get(), &in, &inLeft, &dst, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) {
            if (flushing) {
                break;
            }
            continue;
        }
        if (errno != E2BIG) {
            return std::nullopt;
        }
        out.resize(out.size() * 2);
    }
    out.resize(used);
    return out;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) noexcept {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<std::uint8_t>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t lowest = 0x80;  // allowed range of the second byte
        std::uint8_t highest = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            if (b0 == 0xE0) {
                lowest = 0xA0;  // no overlong forms
            } else if (b0 == 0xED) {
                highest = 0x9F;  // no UTF-16 surrogates
            }
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            if (b0 == 0xF0) {
                lowest = 0x90;
            } else if (b0 == 0xF4) {
                highest = 0x8F;  // nothing above U+10FFFF
            }
        } else {
            return false;
        }
        if (n - i < length) {
            return false;
        }
        const auto b1 = static_cast<std::uint8_t>(bytes[i + 1]);
        if (b1 < lowest || b1 > highest) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            const auto bk = static_cast<std::uint8_t>(bytes[i + k]);
            if (bk < 0x80 || bk > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }

std::optional<std::string> GbkToUtf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk); }

std::optional<std::string> Utf16ToUtf8(std::string_view utf16, bool bigEndian) {
    if (utf16.size() % 2 != 0) {
        return std::nullopt;
    }
    return Convert("UTF-8", bigEndian ? "UTF-16BE" : "UTF-16LE", utf16);
}

}  // namespace quarvel::detail
