#ifndef QUARVEL_SRC_MODEL_ZERO_TEST_H
#define QUARVEL_SRC_MODEL_ZERO_TEST_H

namespace quarvel::detail {

// The single-precision value nearest to 0.00001.
inline constexpr float kZeroBound = 0.00001f;

// A parameter counts as zero unless it lies strictly outside +-kZeroBound.
// The bounds themselves count as zero, and so does NaN, for which both
// comparisons are false. Every optional correction step is switched off by
// this test.
constexpr bool IsZeroParam(float v) noexcept {
    const double d = v;
    return !(d > static_cast<double>(kZeroBound) || d < -static_cast<double>(kZeroBound));
}

}  // namespace quarvel::detail

#endif
