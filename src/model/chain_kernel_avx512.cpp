// The chain kernel for AVX-512 (8 lanes). This file alone is compiled with
// -mavx512f; it runs only where the processor reports AVX-512F. Twice the
// lanes of AVX2 halve the instructions per point, which lets the processor
// overlap more blocks of the chain's long dependency (four divisions deep).

#if defined(__x86_64__) || defined(__i386__)

// GCC 12 warns inside its own AVX-512 headers, where _mm512_undefined_*()
// deliberately leaves a register unset.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include "model/chain_blocks.h"

namespace quarvel::detail {
namespace {

// x86's truncating conversion returns 0x80000000 (INT_MIN) for NaN,
// infinities and values outside the 32-bit range: exactly the scalar Trunc.
struct Avx512Ops {
    using V = __m512d;
    using F = __m256;
    static constexpr std::size_t kLanes = 8;
    static QUARVEL_INLINE V Splat(double v) { return _mm512_set1_pd(v); }
    static QUARVEL_INLINE F ToF(V v) { return _mm512_cvtpd_ps(v); }
    static QUARVEL_INLINE V ToD(F v) { return _mm512_cvtps_pd(v); }
    static QUARVEL_INLINE V RoundToFloat(V v) { return ToD(ToF(v)); }
    static QUARVEL_INLINE void Load(const KernelPoint* in, V& x, V& y) {
        const __m512i xy = _mm512_loadu_si512(in);  // x0 y0 ... x7 y7
        const __m512i split =
            _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15), xy);
        x = _mm512_cvtepi32_pd(_mm512_castsi512_si256(split));
        y = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(split, 1));
    }
    static QUARVEL_INLINE void StoreTrunc(V x, V y, KernelPoint* out) {
        const __m512i both = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(x)), _mm512_cvttpd_epi32(y), 1);
        const __m512i xy =
            _mm512_permutexvar_epi32(_mm512_setr_epi32(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15), both);
        _mm512_storeu_si512(out, xy);
    }
};

}  // namespace

std::size_t Avx512Blocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept {
    return Chain<Avx512Ops>(p, in, out, n);
}

}  // namespace quarvel::detail

#endif
