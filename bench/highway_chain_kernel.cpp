// The correction chain written on Google Highway, for the benchmarks only:
// the same operations in the same order as the library's hand-written
// kernels (src/correction/chain_blocks.h), compiled per instruction set
// with Highway's dynamic dispatch, so that one run measures both. The
// library keeps its own kernels while this one is measurably slower.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "highway_chain_kernel.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h

#include <hwy/highway.h>

#include "highway_chain_kernel.h"

HWY_BEFORE_NAMESPACE();
namespace quarvel::detail {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using DF = hn::Rebind<float, D>;
using DI = hn::Rebind<std::int32_t, D>;
using V = hn::Vec<D>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;

HWY_INLINE V RoundToFloat(V v) { return hn::PromoteTo(D(), hn::DemoteTo(DF(), v)); }

// trunc toward zero into 32 bits; NaN, infinities and values outside the
// 32-bit range give INT_MIN, exactly as the scalar Trunc.
HWY_INLINE VI Trunc32(V v) {
    const D d;
    const auto inRange = hn::And(hn::Gt(v, hn::Set(d, -2147483649.0)), hn::Lt(v, hn::Set(d, 2147483648.0)));
    return hn::DemoteTo(DI(), hn::IfThenElse(inRange, v, hn::Set(d, -2147483648.0)));
}

template <bool Barrel, bool FloatQuotient>
HWY_INLINE std::size_t Blocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) {
    const D d;
    const DF df;
    const DI di;
    const std::size_t lanes = hn::Lanes(d);
    const std::size_t blocks = n - n % lanes;
    const V cx = hn::Set(d, p.centerX);
    const V cy = hn::Set(d, p.centerY);
    const V focal = hn::Set(d, p.focal);
    const V twoFocal = hn::Set(d, 2.0 * p.focal);
    const VF twoFocalF = hn::DemoteTo(df, twoFocal);
    const V two = hn::Set(d, 2.0);
    const V scale = hn::Set(d, p.scale);
    const VF ocxF = hn::DemoteTo(df, hn::Set(d, p.outCenterX));
    const VF ocyF = hn::DemoteTo(df, hn::Set(d, p.outCenterY));
    const V half = hn::Set(d, 0.5);
    const V m00 = hn::Set(d, p.m[0][0]), m01 = hn::Set(d, p.m[0][1]), m02 = hn::Set(d, p.m[0][2]);
    const V m10 = hn::Set(d, p.m[1][0]), m11 = hn::Set(d, p.m[1][1]), m12 = hn::Set(d, p.m[1][2]);
    const V m20 = hn::Set(d, p.m[2][0]), m21 = hn::Set(d, p.m[2][1]), m22 = hn::Set(d, p.m[2][2]);
    for (std::size_t i = 0; i < blocks; i += lanes) {
        VI xi;
        VI yi;
        hn::LoadInterleaved2(di, &in[i].x, xi, yi);
        const V px = hn::PromoteTo(d, xi);
        const V py = hn::PromoteTo(d, yi);
        V bx;
        V by;
        if constexpr (Barrel) {
            const VF dxF = hn::DemoteTo(df, hn::Sub(px, cx));
            const VF dyF = hn::DemoteTo(df, hn::Sub(py, cy));
            const VF sF = hn::Add(hn::Mul(dxF, dxF), hn::Mul(dyF, dyF));  // sq(dx) + sq(dy)
            V t;
            if constexpr (FloatQuotient) {
                t = hn::PromoteTo(d, hn::Div(sF, twoFocalF));
            } else {
                t = RoundToFloat(hn::Div(hn::PromoteTo(d, sF), twoFocal));
            }
            const V k = RoundToFloat(hn::Div(focal, hn::Sub(focal, hn::Mul(two, t))));
            bx = hn::PromoteTo(d, hn::Add(ocxF, hn::DemoteTo(df, hn::Mul(hn::Mul(k, hn::PromoteTo(d, dxF)), scale))));
            by = hn::PromoteTo(d, hn::Add(ocyF, hn::DemoteTo(df, hn::Mul(hn::Mul(k, hn::PromoteTo(d, dyF)), scale))));
        } else {
            bx = RoundToFloat(px);
            by = RoundToFloat(py);
        }
        const V w = RoundToFloat(hn::Add(hn::Add(hn::Mul(m20, bx), hn::Mul(m21, by)), m22));
        const V tx = RoundToFloat(hn::Add(hn::Add(hn::Mul(m00, bx), hn::Mul(m01, by)), m02));
        const V ty = RoundToFloat(hn::Add(hn::Add(hn::Mul(m10, bx), hn::Mul(m11, by)), m12));
        const V qx = hn::Add(hn::Div(tx, w), half);
        const V qy = hn::Add(hn::Div(ty, w), half);
        hn::StoreInterleaved2(Trunc32(qx), Trunc32(qy), di, &out[i].x);
    }
    return blocks;
}

std::size_t ChainBlocks(const ChainParams& p, const KernelPoint* in, KernelPoint* out, std::size_t n) {
#if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128
    // Highway's portable fallbacks saturate out-of-range conversions where
    // IEEE gives infinities and INT_MIN; without a vector unit it supports,
    // every point takes the scalar chain instead.
    (void)p;
    (void)in;
    (void)out;
    (void)n;
    return 0;
#endif
    if (!p.barrel) {
        return Blocks<false, false>(p, in, out, n);
    }
    // 2f as a float: exact unless it overflows (the comparison is false for
    // NaN and infinities too, which take the double path).
    const bool floatQuotient = 2.0 * p.focal <= 3.4028234663852886e38 && 2.0 * p.focal >= -3.4028234663852886e38;
    return floatQuotient ? Blocks<true, true>(p, in, out, n) : Blocks<true, false>(p, in, out, n);
}

}  // namespace HWY_NAMESPACE
}  // namespace quarvel::detail
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace quarvel::detail {

HWY_EXPORT(ChainBlocks);

std::size_t HighwayChainBlocks(const ChainParams& params, const KernelPoint* in, KernelPoint* out, std::size_t n) {
    return HWY_DYNAMIC_DISPATCH(ChainBlocks)(params, in, out, n);
}

}  // namespace quarvel::detail
#endif
