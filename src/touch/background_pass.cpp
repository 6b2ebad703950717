// The background's pass over a frame, compiled for each instruction set
// Highway targets and chosen at run time. Plain float arithmetic, no fused
// multiply-add: every target computes the same values as the scalar form.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "touch/background_pass.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h

#include <hwy/highway.h>

#include "touch/background_pass.h"

#ifndef QUARVEL_BACKGROUND_PASS_ONCE
#define QUARVEL_BACKGROUND_PASS_ONCE
namespace quarvel::detail {

// One pixel; the vectors below do the same lane by lane.
inline bool PassPixel(std::uint8_t g, float& v, std::uint8_t& flags, std::uint8_t& marked, const PassParams& p) {
    constexpr std::uint8_t kSaturated = 250;
    const float frame = g;
    const float predicted = p.gain * v + p.offset;
    const float d = frame - predicted;
    const bool clipped = (flags & kClipped) != 0;
    const bool above = d > p.low && !clipped;
    const bool darker = d < -p.low;
    const bool learn = p.learn && d <= p.high;
    const float rate = darker && (flags & kDarker) != 0 ? p.down : p.up;
    const float learned = learn ? predicted + rate * d : predicted;
    const bool saturated = g >= kSaturated && learn;
    const float seen = p.learn && clipped ? frame : learned;
    v = saturated ? predicted + (d > 0.0f ? d : 0.0f) : seen;
    flags = static_cast<std::uint8_t>((saturated || (!p.learn && clipped) ? kClipped : 0) | (darker ? kDarker : 0));
    marked = above ? 255 : 0;
    return above;
}

}  // namespace quarvel::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace quarvel::detail {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using D8 = hn::Rebind<std::uint8_t, DF>;

bool PassSpan(const std::uint8_t* grey, float* values, std::uint8_t* flags, std::uint8_t* marked, std::size_t n,
              const PassParams& p) {
    const DF df;
    const DI di;
    const D8 d8;
    const std::size_t lanes = hn::Lanes(df);
    const auto gain = hn::Set(df, p.gain);
    const auto offset = hn::Set(df, p.offset);
    const auto low = hn::Set(df, p.low);
    const auto lowBelow = hn::Set(df, -p.low);
    const auto high = hn::Set(df, p.high);
    const auto up = hn::Set(df, p.up);
    const auto down = hn::Set(df, p.down);
    const auto zero = hn::Zero(df);
    const auto saturatedLevel = hn::Set(df, 250.0f);
    const auto clippedBit = hn::Set(di, kClipped);
    const auto darkerBit = hn::Set(di, kDarker);
    const auto full = hn::Set(di, 255);
    const auto zeroI = hn::Zero(di);
    const auto never = hn::Lt(zero, zero);
    auto any = hn::Zero(di);
    std::size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        const auto frame = hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, grey + i)));
        const auto oldFlags = hn::PromoteTo(di, hn::LoadU(d8, flags + i));
        const auto v = hn::LoadU(df, values + i);
        const auto predicted = hn::Add(hn::Mul(gain, v), offset);
        const auto d = hn::Sub(frame, predicted);
        const auto clipped = hn::RebindMask(df, hn::Ne(hn::And(oldFlags, clippedBit), zeroI));
        const auto wasDarker = hn::RebindMask(df, hn::Ne(hn::And(oldFlags, darkerBit), zeroI));
        const auto above = hn::AndNot(clipped, hn::Gt(d, low));
        const auto darker = hn::Lt(d, lowBelow);
        const auto learn = p.learn ? hn::Le(d, high) : never;
        const auto rate = hn::IfThenElse(hn::And(darker, wasDarker), down, up);
        const auto learned = hn::IfThenElse(learn, hn::Add(predicted, hn::Mul(rate, d)), predicted);
        const auto saturated = hn::And(hn::Ge(frame, saturatedLevel), learn);
        const auto seen = p.learn ? hn::IfThenElse(clipped, frame, learned) : learned;
        const auto next = hn::IfThenElse(saturated, hn::Add(predicted, hn::Max(d, zero)), seen);
        hn::StoreU(next, df, values + i);
        const auto keptClipped = p.learn ? saturated : hn::Or(saturated, clipped);
        const auto nextFlags = hn::Or(hn::IfThenElseZero(hn::RebindMask(di, keptClipped), clippedBit),
                                      hn::IfThenElseZero(hn::RebindMask(di, darker), darkerBit));
        hn::StoreU(hn::DemoteTo(d8, nextFlags), d8, flags + i);
        const auto marks = hn::IfThenElseZero(hn::RebindMask(di, above), full);
        hn::StoreU(hn::DemoteTo(d8, marks), d8, marked + i);
        any = hn::Or(any, marks);
    }
    bool anyMarked = !hn::AllFalse(di, hn::Ne(any, zeroI));
    for (; i < n; ++i) {
        anyMarked = PassPixel(grey[i], values[i], flags[i], marked[i], p) || anyMarked;
    }
    return anyMarked;
}

}  // namespace HWY_NAMESPACE
}  // namespace quarvel::detail
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace quarvel::detail {

HWY_EXPORT(PassSpan);

bool PassSpan(const std::uint8_t* grey, float* values, std::uint8_t* flags, std::uint8_t* marked, std::size_t n,
              const PassParams& p) {
    return HWY_DYNAMIC_DISPATCH(PassSpan)(grey, values, flags, marked, n, p);
}

bool PassSpanScalar(const std::uint8_t* grey, float* values, std::uint8_t* flags, std::uint8_t* marked, std::size_t n,
                    const PassParams& p) {
    bool any = false;
    for (std::size_t i = 0; i < n; ++i) {
        any = PassPixel(grey[i], values[i], flags[i], marked[i], p) || any;
    }
    return any;
}

}  // namespace quarvel::detail
#endif
