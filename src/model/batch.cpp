// The batch form of the main chain: the vector kernels, then the few
// points left over one by one.

#include <cstddef>

#include "model/chain.h"
#include "model/chain_kernel.h"
#include "model/lens_map.h"
#include "model/zero_test.h"

namespace quarvel::detail {

ChainParams KernelParams(const Chain& c) noexcept {
    ChainParams params{};
    params.barrel = !IsZeroParam(c.focal);
    params.centerX = c.centerX;
    params.centerY = c.centerY;
    params.focal = c.focal;
    params.scale = c.scale;
    params.outCenterX = c.outCenterX;
    params.outCenterY = c.outCenterY;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            params.m[i][j] = c.matrix(i, j);
        }
    }
    return params;
}

void CorrectPixels(const Chain& c, const CvPoint* in, CvPoint* out, std::size_t n) noexcept {
    if (in == nullptr || out == nullptr || n == 0) {
        return;
    }
    if (c.lens != nullptr) {
        c.lens->CorrectPixels(in, out, n);
        return;
    }
    static_assert(sizeof(CvPoint) == sizeof(KernelPoint) && offsetof(CvPoint, y) == offsetof(KernelPoint, y),
                  "CvPoint and KernelPoint share a layout");
    const std::size_t done = CorrectPointBlocks(KernelParams(c), reinterpret_cast<const KernelPoint*>(in),
                                                reinterpret_cast<KernelPoint*>(out), n);
    for (std::size_t i = done; i < n; ++i) {
        out[i] = CorrectPixel(c, in[i]);
    }
}

}  // namespace quarvel::detail
