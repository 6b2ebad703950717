#include "numeric/robust.h"

#include <cmath>

namespace quarvel::detail {

double BinnedMedian(const std::vector<float>& values, double centre, std::vector<int>& counts, bool absolute) {
    constexpr int kBins = 8;     // a unit
    constexpr int kReach = 256;  // units either side; beyond, the end bins
    const auto shift = static_cast<float>(absolute ? -centre : 0.0);
    constexpr int last = 2 * kReach * kBins;
    const auto fine = [shift, absolute](float v) {
        const float d = absolute ? std::abs(v + shift) : v;
        const float at = (d + static_cast<float>(kReach)) * static_cast<float>(kBins);
        return at <= 0.0f ? 0 : at >= static_cast<float>(last) ? last : static_cast<int>(at);
    };
    // Units first, then the eighths of the unit the median falls in.
    counts.assign(static_cast<std::size_t>(last / kBins + 1), 0);
    for (const float v : values) {
        ++counts[static_cast<std::size_t>(fine(v) / kBins)];
    }
    const std::size_t half = values.size() / 2;
    std::size_t seen = 0;
    std::size_t unit = 0;
    for (; unit < counts.size(); ++unit) {
        if (seen + static_cast<std::size_t>(counts[unit]) > half) {
            break;
        }
        seen += static_cast<std::size_t>(counts[unit]);
    }
    if (unit == counts.size()) {
        return 0.0;
    }
    int eighths[kBins] = {};
    for (const float v : values) {
        const int bin = fine(v);
        if (static_cast<std::size_t>(bin / kBins) == unit) {
            ++eighths[bin % kBins];
        }
    }
    for (int k = 0; k < kBins; ++k) {
        seen += static_cast<std::size_t>(eighths[k]);
        if (seen > half) {
            return (static_cast<double>(unit * kBins + static_cast<std::size_t>(k)) + 0.5) / kBins - kReach;
        }
    }
    return 0.0;
}

}  // namespace quarvel::detail
