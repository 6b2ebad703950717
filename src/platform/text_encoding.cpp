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

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    IconvHandle cd("GBK", "UTF-8");
    if (!cd.valid()) {
        return std::nullopt;
    }
    std::string out;
    // GBK never needs more bytes than UTF-8 for the same text.
    out.resize(utf8.size());
    char* in = const_cast<char*>(utf8.data());  // iconv's interface is not const-correct
    std::size_t inLeft = utf8.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd.get(), &in, &inLeft, &dst, &outLeft) == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    if (iconv(cd.get(), nullptr, nullptr, &dst, &outLeft) == static_cast<std::size_t>(-1)) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace quarvel::detail
