#include "touch/peaks.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarvel::detail {
namespace {

constexpr float kNone = -std::numeric_limits<float>::infinity();
constexpr int kDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr int kDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

}  // namespace

int PeakFinder::Root(int i) {
    while (parent_[static_cast<std::size_t>(i)] != i) {
        int& p = parent_[static_cast<std::size_t>(i)];
        p = parent_[static_cast<std::size_t>(p)];
        i = p;
    }
    return i;
}

void PeakFinder::Smooth(const Patch& patch) {
    // The 3 x 3 mean of the light over the pixels that may carry it, for
    // the set's own pixels: a single hot pixel weighs a ninth.
    const int w = patch.width();
    const int h = patch.height();
    smooth_.assign(patch.rise.size(), kNone);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = patch.At(x, y);
            if (patch.owner[i] != Patch::kOwn) {
                continue;
            }
            float sum = 0.0f;
            int n = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int u = x + dx;
                    const int v = y + dy;
                    if (u >= 0 && v >= 0 && u < w && v < h && patch.Ours(patch.At(u, v))) {
                        sum += patch.rise[patch.At(u, v)];
                        ++n;
                    }
                }
            }
            smooth_[i] = sum / static_cast<float>(n);
        }
    }
}

cv::Point2d PeakFinder::Vertex(const Patch& patch, int p) const {
    // Along each axis, the vertex of the parabola through the top and its
    // two neighbours (of the 3 x 3 mean), within half a pixel of the top.
    const int w = patch.width();
    const int x = p % w;
    const int y = p / w;
    const auto along = [&](int dx, int dy) {
        const int u0 = x - dx, v0 = y - dy, u1 = x + dx, v1 = y + dy;
        if (u0 < 0 || v0 < 0 || u1 >= w || v1 >= patch.height()) {
            return 0.0;
        }
        const double before = smooth_[patch.At(u0, v0)];
        const double after = smooth_[patch.At(u1, v1)];
        const double here = smooth_[static_cast<std::size_t>(p)];
        const double curve = before - 2.0 * here + after;
        if (!std::isfinite(before) || !std::isfinite(after) || !(curve < 0.0)) {
            return 0.0;
        }
        return std::clamp(0.5 * (before - after) / curve, -0.5, 0.5);
    };
    return cv::Point2d(x + along(1, 0), y + along(0, 1));
}

bool PeakFinder::HasCore(const Patch& patch, int peak, double height, int core) {
    // runs[x]: rows in a row, ending at this one, whose run of the basin's
    // pixels above `height` ending at x is at least `core` long.
    const int w = patch.width();
    runs_.assign(static_cast<std::size_t>(w), 0);
    for (int y = 0; y < patch.height(); ++y) {
        int across = 0;
        for (int x = 0; x < w; ++x) {
            const std::size_t i = patch.At(x, y);
            const bool in = basin_[i] == peak && patch.rise[i] > height;
            across = in ? across + 1 : 0;
            int& down = runs_[static_cast<std::size_t>(x)];
            down = across >= core ? down + 1 : 0;
            if (down >= core) {
                return true;
            }
        }
    }
    return false;
}

void PeakFinder::Flood(const Patch& patch) {
    const auto higher = [this](int a, int b) {  // a above b: by light, then by place
        const float sa = smooth_[static_cast<std::size_t>(a)];
        const float sb = smooth_[static_cast<std::size_t>(b)];
        return sa > sb || (sa == sb && a < b);
    };
    order_.clear();
    for (std::size_t i = 0; i < smooth_.size(); ++i) {
        if (smooth_[i] != kNone) {
            order_.push_back(static_cast<int>(i));
        }
    }
    std::sort(order_.begin(), order_.end(), higher);
    // Each pixel joins the sets of the higher pixels beside it; where it
    // joins two, the lower top's prominence is its height above this
    // saddle, and its set goes into the higher one's.
    const std::size_t n = smooth_.size();
    parent_.assign(n, -1);
    top_.assign(n, -1);
    basin_.assign(n, -1);
    prominence_.assign(n, std::numeric_limits<double>::infinity());
    into_.assign(n, -1);
    const int w = patch.width();
    for (const int p : order_) {
        const int x = p % w;
        const int y = p / w;
        int best = -1;  // the root whose top is highest
        int roots[8];
        int count = 0;
        for (int k = 0; k < 8; ++k) {
            const int u = x + kDx[k];
            const int v = y + kDy[k];
            if (u < 0 || v < 0 || u >= w || v >= patch.height()) {
                continue;
            }
            const int q = static_cast<int>(patch.At(u, v));
            if (parent_[static_cast<std::size_t>(q)] < 0) {
                continue;  // not flooded yet (or not the set's)
            }
            const int r = Root(q);
            if (std::find(roots, roots + count, r) != roots + count) {
                continue;
            }
            roots[count++] = r;
            if (best < 0 || higher(top_[static_cast<std::size_t>(r)], top_[static_cast<std::size_t>(best)])) {
                best = r;
            }
        }
        parent_[static_cast<std::size_t>(p)] = p;
        if (best < 0) {
            top_[static_cast<std::size_t>(p)] = p;  // a new peak
            basin_[static_cast<std::size_t>(p)] = p;
            continue;
        }
        const int bestTop = top_[static_cast<std::size_t>(best)];
        basin_[static_cast<std::size_t>(p)] = bestTop;
        parent_[static_cast<std::size_t>(p)] = best;
        for (int k = 0; k < count; ++k) {
            const int r = roots[k];
            if (r == best) {
                continue;
            }
            const int lowerTop = top_[static_cast<std::size_t>(r)];
            prominence_[static_cast<std::size_t>(lowerTop)] =
                static_cast<double>(smooth_[static_cast<std::size_t>(lowerTop)]) - smooth_[static_cast<std::size_t>(p)];
            into_[static_cast<std::size_t>(lowerTop)] = bestTop;
            parent_[static_cast<std::size_t>(r)] = best;
        }
    }
}

std::vector<int> PeakFinder::Significant(const Patch& patch, const PeakRules& rules) const {
    const int w = patch.width();
    std::vector<int> kept;
    for (const int p : order_) {
        if (top_[static_cast<std::size_t>(p)] != p) {
            continue;
        }
        const double height = smooth_[static_cast<std::size_t>(p)];
        const double prominence = prominence_[static_cast<std::size_t>(p)];
        if (height < rules.height || prominence < std::max(rules.prominence, rules.share * height)) {
            continue;
        }
        const cv::Point2d at(p % w, p / w);
        bool apart = true;
        for (const int k : kept) {
            apart = apart && cv::norm(cv::Point2d(k % w, k / w) - at) >= rules.separation;
        }
        if (apart) {
            kept.push_back(p);
        }
    }
    return kept;
}

void PeakFinder::Drain(const std::vector<int>& kept) {
    const auto significant = [&](int t) { return std::find(kept.begin(), kept.end(), t) != kept.end(); };
    for (int& basin : basin_) {
        int t = basin;
        while (t >= 0 && !significant(t) && into_[static_cast<std::size_t>(t)] >= 0) {
            t = into_[static_cast<std::size_t>(t)];
        }
        basin = t >= 0 && significant(t) ? t : kept.front();
    }
}

std::vector<Peak> PeakFinder::Find(const Patch& patch, const PeakRules& rules) {
    Smooth(patch);
    Flood(patch);
    const std::vector<int> kept = Significant(patch, rules);
    if (kept.empty()) {
        return {};
    }
    Drain(kept);
    std::vector<Peak> peaks;
    for (const int p : kept) {
        if ((kept.size() > 1 || rules.eachCore) && !HasCore(patch, p, rules.height, rules.core)) {
            continue;  // a speck beside a fingertip, not a fingertip
        }
        Peak peak{Vertex(patch, p), smooth_[static_cast<std::size_t>(p)], 0};
        for (std::size_t i = 0; i < basin_.size(); ++i) {
            peak.area += basin_[i] == p && patch.owner[i] == Patch::kOwn && patch.rise[i] > rules.height ? 1 : 0;
        }
        peaks.push_back(peak);
    }
    return peaks;
}

}  // namespace quarvel::detail
