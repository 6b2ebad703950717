#include "touch/deblend.h"

#include <algorithm>
#include <cmath>

namespace quarvel::detail {
namespace {

constexpr double kStride = 2.0;

}  // namespace

float Deblender::Sample(const std::vector<float>& values, int w, int h, double x, double y) const noexcept {
    // Bilinear, nothing beyond the patch.
    if (!(x > -1.0 && y > -1.0 && x < w && y < h)) {
        return 0.0f;
    }
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = x - x0;
    const double fy = y - y0;
    const auto at = [&](int u, int v) -> double {
        return u >= 0 && v >= 0 && u < w && v < h ? values[static_cast<std::size_t>(v) * w + u] : 0.0;
    };
    return static_cast<float>((1.0 - fy) * ((1.0 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                              fy * ((1.0 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1)));
}

void Deblender::Monotone(std::vector<float>& t, const cv::Point2d& centre, int w, int h) {
    // Outwards from the centre, quadrant by quadrant, each pixel at most
    // the pixel next to it towards the centre: a fingertip's light never
    // rises again away from it (what rises is a neighbour's).
    const int cx = std::clamp(static_cast<int>(std::lround(centre.x)), 0, w - 1);
    const int cy = std::clamp(static_cast<int>(std::lround(centre.y)), 0, h - 1);
    for (const int sx : {1, -1}) {
        for (const int sy : {1, -1}) {
            for (int y = cy; y >= 0 && y < h; y += sy) {
                for (int x = cx; x >= 0 && x < w; x += sx) {
                    const int dx = std::abs(x - cx);
                    const int dy = std::abs(y - cy);
                    if (dx == 0 && dy == 0) {
                        continue;
                    }
                    // The neighbour closest to the line towards the centre.
                    const int px = 2 * dx >= dy ? x - sx : x;
                    const int py = 2 * dy >= dx ? y - sy : y;
                    float& here = t[static_cast<std::size_t>(y) * w + x];
                    here = std::min(here, t[static_cast<std::size_t>(py) * w + px]);
                }
            }
        }
    }
}

void Deblender::ShareOut(const std::vector<float>& light, const std::vector<cv::Point2d>& centres, int w, int h) {
    // Each fingertip's template: the lower of each pixel's light and its
    // mirror image's through the centre, in the light the others' shares
    // leave (all of it, the first time): where neighbours sit on both sides
    // (the middle of three), their light is not taken for its own.
    const std::size_t count = centres.size();
    templates_.resize(count);
    const bool peeled = shares_.size() == count;
    for (std::size_t c = 0; c < count; ++c) {
        left_ = light;
        for (std::size_t j = 0; j < count && peeled; ++j) {
            if (j != c) {
                for (std::size_t i = 0; i < left_.size(); ++i) {
                    left_[i] -= shares_[j][i];
                }
            }
        }
        std::vector<float>& t = templates_[c];
        t.assign(light.size(), 0.0f);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                if (left_[i] > 0.0f) {
                    const float mirror = Sample(left_, w, h, 2.0 * centres[c].x - x, 2.0 * centres[c].y - y);
                    t[i] = std::max(0.0f, std::min(left_[i], mirror));
                }
            }
        }
        Monotone(t, centres[c], w, h);
    }
    // Each pixel's light shared out in proportion to the templates.
    shares_.resize(count);
    for (std::size_t c = 0; c < count; ++c) {
        shares_[c].assign(light.size(), 0.0f);
    }
    for (std::size_t i = 0; i < light.size(); ++i) {
        double all = 0.0;
        for (std::size_t c = 0; c < count; ++c) {
            all += templates_[c][i];
        }
        if (all > 0.0) {
            for (std::size_t c = 0; c < count; ++c) {
                shares_[c][i] = static_cast<float>(light[i] * templates_[c][i] / all);
            }
        }
    }
}

std::vector<Share> Deblender::Apart(const Patch& patch, const std::vector<float>& light,
                                    std::vector<cv::Point2d> centres, double base, double high, double width,
                                    int rounds) {
    const int w = patch.width();
    const int h = patch.height();
    const std::size_t count = centres.size();
    const double k = -0.5 / (width * width);
    std::vector<Share> result(count);
    shares_.clear();
    for (int round = 0; round <= rounds; ++round) {
        ShareOut(light, centres, w, h);
        for (std::size_t c = 0; c < count; ++c) {
            // The window, separably: a row's and a column's factor.
            across_.resize(static_cast<std::size_t>(w));
            down_.resize(static_cast<std::size_t>(h));
            for (int x = 0; x < w; ++x) {
                across_[static_cast<std::size_t>(x)] = std::exp(k * (x - centres[c].x) * (x - centres[c].x));
            }
            for (int y = 0; y < h; ++y) {
                down_[static_cast<std::size_t>(y)] = std::exp(k * (y - centres[c].y) * (y - centres[c].y));
            }
            double s = 0.0, sx = 0.0, sy = 0.0, area = 0.0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const std::size_t i = static_cast<std::size_t>(y) * w + x;
                    const double mine = shares_[c][i];
                    area += mine > high && patch.owner[i] == Patch::kOwn ? 1.0 : 0.0;
                    // Its share weighs as a lone fingertip's pixel does: by
                    // how far it rises above the base.
                    if (mine <= base) {
                        continue;
                    }
                    const double weight = (mine - base) * across_[static_cast<std::size_t>(x)] *
                                          down_[static_cast<std::size_t>(y)];
                    s += weight;
                    sx += weight * x;
                    sy += weight * y;
                }
            }
            result[c].area = area;
            if (s > 0.0 && round < rounds) {
                // Templates made about a centre pull the share towards it,
                // so each step takes a fifth of the way that is left: two
                // steps' worth in one converges as fast, and as surely.
                centres[c] += kStride * (cv::Point2d(sx / s, sy / s) - centres[c]);
            }
        }
    }
    for (std::size_t c = 0; c < count; ++c) {
        result[c].centre = centres[c];
    }
    return result;
}

}  // namespace quarvel::detail
