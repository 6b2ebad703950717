#ifndef QUARVEL_BENCH_HIGHWAY_CHAIN_KERNEL_H
#define QUARVEL_BENCH_HIGHWAY_CHAIN_KERNEL_H

#include "model/chain_kernel.h"

namespace quarvel::detail {

// The chain kernel on Google Highway (benchmark comparison only); the same
// contract as CorrectPointBlocks.
std::size_t HighwayChainBlocks(const ChainParams& params, const KernelPoint* in, KernelPoint* out, std::size_t n);

}  // namespace quarvel::detail

#endif
