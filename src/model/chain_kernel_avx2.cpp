// The chain kernel for AVX2 (4 lanes). This file alone is compiled with
// -mavx2; it runs only where the processor reports AVX2.

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "model/chain_blocks.h"

namespace quarvel::detail {
namespace {

// x86's truncating conversion returns 0x80000000 (INT_MIN) for NaN,
// infinities and values outside the 32-bit range: exactly the scalar Trunc.
struct Avx2Ops {
    using V = __m256d;
    using F = __m128;
    static constexpr std::size_t kLanes = 4;
    static QUARVEL_INLINE V Splat(double v) { return _mm256_set1_pd(v); }
    static QUARVEL_INLINE F ToF(V v) { return _mm256_cvtpd_ps(v); }
    static QUARVEL_INLINE V ToD(F v) { return _mm256_cvtps_pd(v); }
    static QUARVEL_INLINE V RoundToFloat(V v) { return ToD(ToF(v)); }
    static QUARVEL_INLINE void Load(const KernelPoint* in, V& x, V& y) {
        const __m256i xy = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));  // x0 y0 ... x3 y3
        const __m256i split = _mm256_permutevar8x32_epi32(xy, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
        x = _mm256_cvtepi32_pd(_mm256_castsi256_si128(split));
        y = _mm256_cvtepi32_pd(_mm256_extracti128_si256(split, 1));
    }
    static QUARVEL_INLINE void StoreTrunc(V x, V y, KernelPoint* out) {
        const __m128i xs = _mm256_cvttpd_epi32(x);
        const __m128i ys = _mm256_cvttpd_epi32(y);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi32(xs, ys));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2), _mm_unpackhi_epi32(xs, ys));
    }
};

}  // namespace

std::size_t Avx2Blocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept {
    return Chain<Avx2Ops>(p, in, out, n);
}

}  // namespace quarvel::detail

#endif
