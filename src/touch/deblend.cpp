#include "touch/deblend.h"

#include <algorithm>
#include <cmath>

namespace quarvel::detail {
namespace {

constexpr double kStride = 2.0;

}  // namespace

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
        // The mirror image of pixel (x, y) through the centre is at (2 cx - x,
        // 2 cy - y): the same fraction of a pixel for every pixel, so the
        // same bilinear weights.
        const double mx = 2.0 * centres[c].x;
        const double my = 2.0 * centres[c].y;
        const int bx = static_cast<int>(std::floor(mx));
        const int by = static_cast<int>(std::floor(my));
        const auto fx = static_cast<float>(mx - bx);
        const auto fy = static_cast<float>(my - by);
        const float w00 = (1.0f - fx) * (1.0f - fy), w10 = fx * (1.0f - fy), w01 = (1.0f - fx) * fy, w11 = fx * fy;
        const auto at = [&](int u, int v) {
            return u >= 0 && v >= 0 && u < w && v < h ? left_[static_cast<std::size_t>(v) * w + u] : 0.0f;
        };
        for (int y = 0; y < h; ++y) {
            const int v = by - y;  // the mirror's row (and the one below it)
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                if (left_[i] <= 0.0f) {
                    continue;
                }
                const int u = bx - x;
                float mirror;
                if (u >= 0 && v >= 0 && u + 1 < w && v + 1 < h) {
                    const float* row = &left_[static_cast<std::size_t>(v) * w + u];
                    mirror = w00 * row[0] + w10 * row[1] + w01 * row[w] + w11 * row[w + 1];
                } else {
                    mirror = w00 * at(u, v) + w10 * at(u + 1, v) + w01 * at(u, v + 1) + w11 * at(u + 1, v + 1);
                }
                t[i] = std::max(0.0f, std::min(left_[i], mirror));
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
