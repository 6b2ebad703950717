#include "numeric/robust.h"

#include <cmath>

namespace quarvel::detail {

double BinnedMedian(const std::vector<float>& values, double centre, std::vector<int>& counts, bool absolute) {
    constexpr int kBins = 8;     // a unit
    constexpr int kReach = 256;  // units either side; beyond, the end bins
    counts.assign(static_cast<std::size_t>(2 * kReach * kBins + 1), 0);
    const auto shift = static_cast<float>(absolute ? -centre : 0.0);
    const int last = 2 * kReach * kBins;
    for (const float v : values) {
        const float d = absolute ? std::abs(v + shift) : v;
        const float at = (d + static_cast<float>(kReach)) * static_cast<float>(kBins);
        const int bin = at <= 0.0f ? 0 : at >= static_cast<float>(last) ? last : static_cast<int>(at);
        ++counts[static_cast<std::size_t>(bin)];
    }
    const std::size_t half = values.size() / 2;
    std::size_t seen = 0;
    for (std::size_t bin = 0; bin < counts.size(); ++bin) {
        seen += static_cast<std::size_t>(counts[bin]);
        if (seen > half) {
            return (static_cast<double>(bin) + 0.5) / kBins - kReach;
        }
    }
    return 0.0;
}

}  // namespace quarvel::detail
