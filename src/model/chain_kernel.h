#ifndef QUARVEL_SRC_MODEL_CHAIN_KERNEL_H
#define QUARVEL_SRC_MODEL_CHAIN_KERNEL_H

// Included by the kernel files built for wider instruction sets, so it
// includes nothing but plain standard declarations: an inline function of
// a large header (OpenCV's, say) instantiated there could be picked by the
// linker for baseline code and fault on a processor without that set.

#include <cstddef>
#include <cstdint>

namespace quarvel::detail {

// A point as the kernels read and write it: KernelPoint's layout.
struct KernelPoint {
    std::int32_t x;
    std::int32_t y;
};

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
// the scalar chain (INT_MIN for coordinates without an integer value
// included). Returns how many points it corrected (n rounded down to a
// multiple of the block size); the caller corrects the rest one by one.
// `out` may be `in`; the arrays must not otherwise overlap.
std::size_t CorrectPointBlocks(const ChainParams& params, const KernelPoint* in, KernelPoint* out, std::size_t n) noexcept;

// The builds of the kernel, each callable by itself (the tests compare
// every one this processor runs): the baseline instruction set (SSE2 on
// x86-64), AVX2 and AVX-512 (null where the processor lacks them).
// CorrectPointBlocks uses the widest available.
using ChainKernel = std::size_t (*)(const ChainParams&, const KernelPoint*, KernelPoint*, std::size_t) noexcept;
ChainKernel BaselineChainKernel() noexcept;
ChainKernel Avx2ChainKernel() noexcept;
ChainKernel Avx512ChainKernel() noexcept;

}  // namespace quarvel::detail

#endif
