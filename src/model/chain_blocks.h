#ifndef QUARVEL_SRC_MODEL_CHAIN_BLOCKS_H
#define QUARVEL_SRC_MODEL_CHAIN_BLOCKS_H

// The correction chain over blocks of points, written once against a small
// set of vector operations and built per instruction set (chain_kernel.cpp,
// chain_kernel_avx2.cpp). Each line mirrors one line of the scalar chain
// (chain.cpp): the same conversions between float and
// double, the same operations in the same order, no contraction into fused
// multiply-adds (the build forbids it). IEEE arithmetic is exact per
// element, so vector and scalar results agree bit for bit.
//
// Everything here has internal linkage on purpose: each kernel file gets
// its own copy compiled for its own instruction set, and no copy built for
// a wider one can stand in for another at link time.

#include <cstddef>

#include "model/chain_kernel.h"

#define QUARVEL_INLINE inline __attribute__((always_inline))

namespace quarvel::detail {
namespace {

// Where the chain rounds a double-precision result of float operands to
// float, the same float comes from the float operation itself: a double
// carries more than twice float's precision, so rounding first to double
// and then to float gives the correctly rounded float result for +, -, *
// and / (double rounding is innocuous). The kernels use that where it is
// cheaper: the squares, their sum, the barrel's first quotient and the
// final additions. Every other step stays in double, as the scalar chain
// has it.
//
// The chain over blocks of Ops::kLanes points. `Ops` supplies the vector
// types V (doubles) and F (floats, same lane count), on which arithmetic
// operators work lane by lane, the lane count and the conversions.
// FloatQuotient: s / (2f) may be divided in float, which holds exactly
// when 2f is a finite float (|f| at most half the largest float).
template <typename Ops, bool Barrel, bool FloatQuotient>
QUARVEL_INLINE std::size_t Blocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) {
    using V = typename Ops::V;
    constexpr std::size_t lanes = Ops::kLanes;
    const std::size_t blocks = n - n % lanes;
    using F = typename Ops::F;
    const V cx = Ops::Splat(p.centerX);
    const V cy = Ops::Splat(p.centerY);
    const V focal = Ops::Splat(p.focal);
    const V twoFocal = Ops::Splat(2.0 * p.focal);
    const F twoFocalF = Ops::ToF(twoFocal);
    const V two = Ops::Splat(2.0);
    const V scale = Ops::Splat(p.scale);
    const F ocxF = Ops::ToF(Ops::Splat(p.outCenterX));
    const F ocyF = Ops::ToF(Ops::Splat(p.outCenterY));
    const V half = Ops::Splat(0.5);
    V m[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[i][j] = Ops::Splat(p.m[i][j]);
        }
    }
    for (std::size_t i = 0; i < blocks; i += lanes) {
        V px;
        V py;
        Ops::Load(in + i, px, py);
        V bx;
        V by;
        if constexpr (Barrel) {
            const F dxF = Ops::ToF(px - cx);
            const F dyF = Ops::ToF(py - cy);
            const F sF = dxF * dxF + dyF * dyF;  // sq(dx) + sq(dy), each rounded to float
            V t;
            if constexpr (FloatQuotient) {
                t = Ops::ToD(sF / twoFocalF);
            } else {
                t = Ops::RoundToFloat(Ops::ToD(sF) / twoFocal);
            }
            const V k = Ops::RoundToFloat(focal / (focal - two * t));
            bx = Ops::ToD(ocxF + Ops::ToF(k * Ops::ToD(dxF) * scale));
            by = Ops::ToD(ocyF + Ops::ToF(k * Ops::ToD(dyF) * scale));
        } else {
            bx = Ops::RoundToFloat(px);
            by = Ops::RoundToFloat(py);
        }
        const V w = Ops::RoundToFloat((m[2][0] * bx + m[2][1] * by) + m[2][2]);
        const V tx = Ops::RoundToFloat((m[0][0] * bx + m[0][1] * by) + m[0][2]);
        const V ty = Ops::RoundToFloat((m[1][0] * bx + m[1][1] * by) + m[1][2]);
        Ops::StoreTrunc(tx / w + half, ty / w + half, out + i);
    }
    return blocks;
}

template <typename Ops>
QUARVEL_INLINE std::size_t Chain(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) {
    if (!p.barrel) {
        return Blocks<Ops, false, false>(p, in, out, n);
    }
    // 2f as a float: exact unless it overflows (the comparison is false for
    // NaN and infinities too, which take the double path).
    const bool floatQuotient = 2.0 * p.focal <= 3.4028234663852886e38 && 2.0 * p.focal >= -3.4028234663852886e38;
    return floatQuotient ? Blocks<Ops, true, true>(p, in, out, n) : Blocks<Ops, true, false>(p, in, out, n);
}

}  // namespace
}  // namespace quarvel::detail

#endif
