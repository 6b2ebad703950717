// The chain kernels for the baseline instruction set (SSE2 on x86, the
// compiler's generic vectors elsewhere), and the choice of kernel.

#include "model/chain_kernel.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARVEL_X86 1
#endif

#include "model/chain_blocks.h"

// Vector types never cross a non-inlined function boundary here, so the
// compilers' note on their ABI does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"  // Clang honours GCC's pragma

namespace quarvel::detail {

#ifdef QUARVEL_X86
// Built with -mavx2 and -mavx512f in their own files.
std::size_t Avx2Blocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept;
std::size_t Avx512Blocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept;
#endif

namespace {

#ifdef QUARVEL_X86

// x86's truncating conversion returns 0x80000000 (INT_MIN) for NaN,
// infinities and values outside the 32-bit range: exactly the scalar Trunc.

struct Sse2Ops {
    using V = __m128d;
    using F = __m128;  // two floats used, in the low half
    static constexpr std::size_t kLanes = 2;
    static QUARVEL_INLINE V Splat(double v) { return _mm_set1_pd(v); }
    static QUARVEL_INLINE F ToF(V v) { return _mm_cvtpd_ps(v); }
    static QUARVEL_INLINE V ToD(F v) { return _mm_cvtps_pd(v); }
    static QUARVEL_INLINE V RoundToFloat(V v) { return ToD(ToF(v)); }
    static QUARVEL_INLINE void Load(const KernelPoint* in, V& x, V& y) {
        const __m128i xy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));  // x0 y0 x1 y1
        x = _mm_cvtepi32_pd(_mm_shuffle_epi32(xy, _MM_SHUFFLE(3, 1, 2, 0)));
        y = _mm_cvtepi32_pd(_mm_shuffle_epi32(xy, _MM_SHUFFLE(2, 0, 3, 1)));
    }
    static QUARVEL_INLINE void StoreTrunc(V x, V y, KernelPoint* out) {
        const __m128i xy = _mm_unpacklo_epi32(_mm_cvttpd_epi32(x), _mm_cvttpd_epi32(y));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), xy);
    }
};

std::size_t BaselineBlocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept {
    return Chain<Sse2Ops>(p, in, out, n);
}

#else

// Other processors: the compiler's generic vectors, with the truncation's
// INT_MIN rule spelled out (their conversions saturate or are undefined).
struct GenericOps {
    using V = double __attribute__((vector_size(2 * sizeof(double))));
    using F = float __attribute__((vector_size(2 * sizeof(float))));
    using I = std::int32_t __attribute__((vector_size(2 * sizeof(std::int32_t))));
    using L = std::int64_t __attribute__((vector_size(2 * sizeof(std::int64_t))));
    static constexpr std::size_t kLanes = 2;
    static QUARVEL_INLINE V Splat(double v) { return V{v, v}; }
    static QUARVEL_INLINE F ToF(V v) { return __builtin_convertvector(v, F); }
    static QUARVEL_INLINE V ToD(F v) { return __builtin_convertvector(v, V); }
    static QUARVEL_INLINE V RoundToFloat(V v) { return ToD(ToF(v)); }
    static QUARVEL_INLINE void Load(const KernelPoint* in, V& x, V& y) {
        x = V{static_cast<double>(in[0].x), static_cast<double>(in[1].x)};
        y = V{static_cast<double>(in[0].y), static_cast<double>(in[1].y)};
    }
    static QUARVEL_INLINE I Trunc(V v) {
        const L inRange = (v > -2147483649.0) & (v < 2147483648.0);
        const I truncated = __builtin_convertvector((V)((L)v & inRange), I);
        const I keep = __builtin_convertvector(inRange, I);
        return (truncated & keep) | ((I{} + INT32_MIN) & ~keep);
    }
    static QUARVEL_INLINE void StoreTrunc(V x, V y, KernelPoint* out) {
        const I xs = Trunc(x);
        const I ys = Trunc(y);
        out[0].x = xs[0];
        out[0].y = ys[0];
        out[1].x = xs[1];
        out[1].y = ys[1];
    }
};

std::size_t BaselineBlocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept {
    return Chain<GenericOps>(p, in, out, n);
}

#endif

// The widest kernel this processor runs.
ChainKernel SelectKernel() noexcept {
    if (const ChainKernel avx512 = Avx512ChainKernel()) {
        return avx512;
    }
    if (const ChainKernel avx2 = Avx2ChainKernel()) {
        return avx2;
    }
    return &BaselineBlocks;
}

}  // namespace

ChainKernel BaselineChainKernel() noexcept { return &BaselineBlocks; }

ChainKernel Avx2ChainKernel() noexcept {
#ifdef QUARVEL_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return &Avx2Blocks;
    }
#endif
    return nullptr;
}

ChainKernel Avx512ChainKernel() noexcept {
#ifdef QUARVEL_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        return &Avx512Blocks;
    }
#endif
    return nullptr;
}

std::size_t CorrectPointBlocks(const ChainParams& params, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept {
    static const ChainKernel kernel = SelectKernel();
    return kernel(params, in, out, n);
}

}  // namespace quarvel::detail
