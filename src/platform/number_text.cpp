#include "platform/number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace quarvel::detail {
namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// from_chars takes a leading '-' but not '+'. Drops a '+' that stands before
// a digit or a decimal point and refuses any other leading character that is
// not part of a plain decimal number.
std::string_view StripPlus(std::string_view text) noexcept {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-' || text.front() == '+') {
            return {};
        }
    }
    return text;
}

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::string_view TrimBlanks(std::string_view s) noexcept {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::optional<int> ParseInt32(std::string_view text) noexcept {
    text = StripPlus(text);
    if (text.empty()) {
        return std::nullopt;
    }
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
    if (ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

namespace {

template <typename Real>
std::optional<Real> ParseReal(std::string_view text) noexcept {
    text = StripPlus(text);
    // A decimal number starts with a digit or a point (after an optional
    // minus); this turns away "inf", "nan" and "infinity" before from_chars
    // would accept them.
    std::string_view body = text;
    if (!body.empty() && body.front() == '-') {
        body.remove_prefix(1);
    }
    if (body.empty() || !(IsDigit(body.front()) || body.front() == '.')) {
        return std::nullopt;
    }
    Real value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<float> ParseFloat(std::string_view text) noexcept { return ParseReal<float>(text); }

std::optional<double> ParseDouble(std::string_view text) noexcept { return ParseReal<double>(text); }

}  // namespace quarvel::detail
