#ifndef QUARVEL_SRC_CORRECTION_CHAIN_KERNEL_H
#define QUARVEL_SRC_CORRECTION_CHAIN_KERNEL_H

#include <cstddef>

#include <opencv2/core/types_c.h>

namespace quarvel::detail {

// Everything the correction chain reads, gathered once per batch. The
// values are the record's floats widened to double, as the chain uses them.
struct ChainParams {
    bool barrel;  // the focal value does not count as zero
    double centerX;
    double centerY;
    double focal;
    double scale;
    double outCenterX;
    double outCenterY;
    double m[3][3];
};

// Corrects the leading blocks of points (8 with AVX-512, 4 with AVX2, 2
// otherwise) with double-precision
// vector arithmetic that performs exactly the IEEE operations of the scalar
// chain, in the same order, so every result is bit-identical to
// Quarvel::CorrectPoint (INT_MIN for coordinates without an integer value
// included). Returns how many points it corrected (n rounded down to a
// multiple of the block size); the caller corrects the rest one by one.
// `out` may be `in`; the arrays must not otherwise overlap.
std::size_t CorrectPointBlocks(const ChainParams& params, const CvPoint* in, CvPoint* out, std::size_t n) noexcept;

// The builds of the kernel, for tests and benchmarks: the baseline
// instruction set (SSE2 on x86-64), AVX2 and AVX-512 (null where the
// processor lacks them). CorrectPointBlocks uses the widest available.
using ChainKernel = std::size_t (*)(const ChainParams&, const CvPoint*, CvPoint*, std::size_t) noexcept;
ChainKernel BaselineChainKernel() noexcept;
ChainKernel Avx2ChainKernel() noexcept;
ChainKernel Avx512ChainKernel() noexcept;

}  // namespace quarvel::detail

#endif
