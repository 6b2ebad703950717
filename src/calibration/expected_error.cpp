#include "calibration/expected_error.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <opencv2/imgproc.hpp>

#include "numeric/robust.h"

namespace quarvel::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kNearest = 4;  // pairs an error estimate takes its value from
constexpr double kRegionSpacings = 1.5;  // a region's side, in typical pair spacings

}  // namespace

double RegionSize(const std::vector<cv::Point2d>& display, const std::vector<bool>& use) {
    std::vector<double> nearest;
    for (std::size_t i = 0; i < display.size(); ++i) {
        if (!use[i]) {
            continue;
        }
        double best = std::numeric_limits<double>::infinity();
        for (std::size_t j = 0; j < display.size(); ++j) {
            if (j != i && use[j]) {
                best = std::min(best, cv::norm(display[i] - display[j]));
            }
        }
        if (std::isfinite(best) && best > 0) {
            nearest.push_back(best);
        }
    }
    if (nearest.empty()) {
        return 100.0;
    }
    return kRegionSpacings * MedianInPlace(nearest);
}

std::vector<double> LeaveRegionsOut(const std::vector<cv::Point2d>& display, const std::vector<bool>& use,
                                    double region,
                                    const std::function<std::vector<cv::Point2d>(const std::vector<bool>&)>& refit) {
    std::map<std::pair<long, long>, std::vector<std::size_t>> regions;
    for (std::size_t i = 0; i < display.size(); ++i) {
        if (use[i]) {
            regions[{std::lround(std::floor(display[i].x / region)), std::lround(std::floor(display[i].y / region))}]
                .push_back(i);
        }
    }
    std::vector<double> error(display.size(), kNaN);
    for (const auto& [key, members] : regions) {
        std::vector<bool> without = use;
        for (const std::size_t i : members) {
            without[i] = false;
        }
        const std::vector<cv::Point2d> predicted = refit(without);
        for (const std::size_t i : members) {
            const double e = i < predicted.size() ? cv::norm(predicted[i] - display[i]) : kNaN;
            error[i] = std::isfinite(e) ? e : std::numeric_limits<double>::infinity();
        }
    }
    return error;
}

DisplayError ExpectedOverDisplay(const std::vector<cv::Point2d>& display, const std::vector<bool>& use,
                                 const std::vector<double>& leftOut, cv::Size screen, double region,
                                 const std::function<bool(const cv::Point2d&)>& seen) {
    DisplayError out;
    const int columns = std::max(1, (screen.width + kMapStep - 1) / kMapStep);
    const int rows = std::max(1, (screen.height + kMapStep - 1) / kMapStep);
    out.error = cv::Mat(rows, columns, CV_32FC1, cv::Scalar(std::numeric_limits<float>::quiet_NaN()));
    out.coverage = cv::Mat::zeros(rows, columns, CV_8UC1);
    std::vector<cv::Point2f> inside;
    std::vector<std::size_t> used;
    // A pair without a figure (NaN: not measured) says nothing; one that
    // nothing predicted (infinite) makes the error unbounded.
    for (std::size_t i = 0; i < display.size(); ++i) {
        if (use[i] && !std::isnan(leftOut[i])) {
            used.push_back(i);
            inside.emplace_back(static_cast<float>(display[i].x), static_cast<float>(display[i].y));
        }
    }
    if (used.empty()) {
        out.rms = out.max = std::numeric_limits<double>::infinity();
        return out;
    }
    std::vector<cv::Point2f> hull;
    if (inside.size() >= 3) {
        cv::convexHull(inside, hull);
    }
    const double spacing = region / kRegionSpacings;
    double sum = 0.0;
    int count = 0;
    std::vector<std::pair<double, std::size_t>> near(used.size());
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const cv::Point2d g(std::min(screen.width - 1.0, (c + 0.5) * kMapStep - 0.5),
                                std::min(screen.height - 1.0, (r + 0.5) * kMapStep - 0.5));
            if (!seen(g)) {
                continue;
            }
            for (std::size_t n = 0; n < used.size(); ++n) {
                near[n] = {cv::norm(display[used[n]] - g), used[n]};
            }
            const std::size_t k = std::min<std::size_t>(kNearest, near.size());
            std::partial_sort(near.begin(), near.begin() + static_cast<std::ptrdiff_t>(k), near.end());
            double squares = 0.0;
            double largest = 0.0;
            for (std::size_t n = 0; n < k; ++n) {
                squares += leftOut[near[n].second] * leftOut[near[n].second];
                largest = std::max(largest, leftOut[near[n].second]);
            }
            // Among the pairs, the left-out errors around; beyond them, the
            // largest of those, growing with the square of how many pair
            // spacings the fit reaches out (a fit's error grows at least so
            // outside its data).
            const double outside =
                hull.size() >= 3 ? -cv::pointPolygonTest(hull, cv::Point2f(static_cast<float>(g.x), static_cast<float>(g.y)),
                                                         true)
                                 : near[0].first;
            const bool among = outside <= 0.0;
            const double reach = 1.0 + std::max(0.0, outside) / spacing;
            const double e = among ? std::sqrt(squares / k) : largest * reach * reach;
            out.error.at<float>(r, c) = static_cast<float>(e);
            out.coverage.at<unsigned char>(r, c) = among ? 2 : 1;
            sum += e * e;
            out.max = std::max(out.max, e);
            ++count;
        }
    }
    out.rms = count > 0 ? std::sqrt(sum / count) : std::numeric_limits<double>::infinity();
    // The worst left-out pair counts too: a map cell may miss it.
    for (const std::size_t i : used) {
        out.max = std::max(out.max, leftOut[i]);
    }
    return out;
}

}  // namespace quarvel::detail
