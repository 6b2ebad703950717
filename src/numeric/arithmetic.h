#ifndef QUARVEL_SRC_NUMERIC_ARITHMETIC_H
#define QUARVEL_SRC_NUMERIC_ARITHMETIC_H

// Arithmetic conventions of every correction step: named quantities are
// stored as float, the arithmetic that forms them runs in double, and
// integers come from truncation toward zero. These helpers spell those
// conversions out so that each formula reads like its definition.

#include <charconv>
#include <climits>
#include <cstdint>
#include <limits>
#include <string>

namespace quarvel::detail {

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "the correction chain assumes IEEE 754 binary32/binary64 arithmetic");

// A point between correction steps: two named quantities, in single
// precision.
struct FloatPoint {
    float x;
    float y;
};

// Rounds a double-precision intermediate to a named single-precision
// quantity (IEEE round-to-nearest; overflow gives an infinity).
constexpr float ToFloat(double v) noexcept { return static_cast<float>(v); }

// sq(v): v * v formed in double and rounded to float.
constexpr float Sq(float v) noexcept { return ToFloat(static_cast<double>(v) * static_cast<double>(v)); }

// Truncation toward zero into 32 bits. NaN, infinities and values outside
// the 32-bit range give INT_MIN, the "integer indefinite" that x86's
// truncating conversion produces, instead of undefined behaviour.
constexpr std::int32_t Trunc(double v) noexcept {
    if (!(v > -2147483649.0 && v < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(v);
}

// Rounding as the chain writes it: trunc(v + 0.5), so that negative values
// round toward zero after the shift (-2.5 gives -2).
constexpr std::int32_t TruncPlusHalf(double v) noexcept { return Trunc(v + 0.5); }

// The shortest decimal text that reads back as exactly `v` ("0.02", not
// "0.0199999996"): how parameter files, reports and the tool write floats.
inline std::string ShortestText(float v) {
    char text[64];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

}  // namespace quarvel::detail

#endif
