// The batch form of the main chain.

#include <quarvel/quarvel.h>

#include <cstddef>

#include "correction/chain_kernel.h"

void Quarvel::CorrectPoints(const CvPoint* in, CvPoint* out, std::size_t n) const {
    if (in == nullptr || out == nullptr || n == 0) {
        return;
    }
    quarvel::detail::ChainParams params{};
    params.barrel = !IsZero(focalZ);
    params.centerX = centerX;
    params.centerY = centerY;
    params.focal = focalZ;
    params.scale = scale;
    params.outCenterX = outCenterX;
    params.outCenterY = outCenterY;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            params.m[i][j] = keyStoneMat(i, j);
        }
    }
    static_assert(sizeof(CvPoint) == sizeof(quarvel::detail::KernelPoint) &&
                      offsetof(CvPoint, y) == offsetof(quarvel::detail::KernelPoint, y),
                  "CvPoint and KernelPoint share a layout");
    const std::size_t done = quarvel::detail::CorrectPointBlocks(
        params, reinterpret_cast<const quarvel::detail::KernelPoint*>(in),
        reinterpret_cast<quarvel::detail::KernelPoint*>(out), n);
    for (std::size_t i = done; i < n; ++i) {
        out[i] = CorrectPoint(in[i]);
    }
}
