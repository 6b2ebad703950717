#include "camera/corner_check.h"

#include <algorithm>
#include <cmath>

#include "calibration/lens_fit.h"
#include "model/lens_map.h"

namespace quarvel::detail {
namespace {

constexpr int kMinCorners = 24;
constexpr double kSpreads = 5.0;
constexpr double kFloorPixels = 0.25;

}  // namespace

void DropStrayCorners(std::vector<PointPair>& pairs, std::vector<int>& corners, cv::Size image, cv::Size display) {
    if (static_cast<int>(pairs.size()) < kMinCorners) {
        return;
    }
    LensPairs lp;
    lp.image = image;
    lp.screen = display;
    for (const PointPair& p : pairs) {
        lp.camera.push_back(p.camera);
        lp.display.push_back(p.display);
    }
    std::vector<bool> use(pairs.size(), true);
    LensStage lens;
    bool have = false;
    for (int round = 0; round < 4; ++round) {
        if (!FitLensModel(lp, use, LensStage::Form::Fisheye, lens, have ? &lens : nullptr)) {
            return;  // nothing to judge by: keep them all
        }
        have = true;
        const cv::Matx33d toUndistorted = lens.homography.inv();
        std::vector<double> error(pairs.size());
        std::vector<double> inlying;
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const cv::Vec3d u = toUndistorted * cv::Vec3d(lp.display[i].x, lp.display[i].y, 1.0);
            const cv::Point2d predicted = DistortPixel(lens, cv::Point2d(u[0] / u[2], u[1] / u[2]));
            const double e = cv::norm(predicted - lp.camera[i]);
            error[i] = std::isfinite(e) ? e : 1e9;
            if (use[i]) {
                inlying.push_back(error[i]);
            }
        }
        std::nth_element(inlying.begin(), inlying.begin() + static_cast<std::ptrdiff_t>(inlying.size() / 2),
                         inlying.end());
        const double limit = std::max(kFloorPixels, kSpreads * 1.4826 * inlying[inlying.size() / 2]);
        std::vector<bool> next(pairs.size());
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            next[i] = error[i] <= limit;
        }
        if (next == use) {
            break;
        }
        use = next;
        if (std::count(use.begin(), use.end(), true) < kMinCorners) {
            return;
        }
    }
    std::vector<PointPair> kept;
    std::vector<int> keptCorners;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (use[i]) {
            kept.push_back(pairs[i]);
            keptCorners.push_back(corners[i]);
        }
    }
    pairs = std::move(kept);
    corners = std::move(keptCorners);
}

}  // namespace quarvel::detail
