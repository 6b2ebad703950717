#include "camera/corner_check.h"

#include <algorithm>
#include <cmath>

#include "calibration/lens_fit.h"
#include "numeric/homography.h"
#include "numeric/lens_math.h"
#include "numeric/robust.h"

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
    FitPairs lp;
    lp.image = image;
    lp.screen = display;
    for (const PointPair& p : pairs) {
        lp.camera.push_back(p.camera);
        lp.display.push_back(p.display);
    }
    std::vector<bool> use(pairs.size(), true);
    LensStage lens;
    bool have = false;
    const InlierRule rule{kFloorPixels, kSpreads, static_cast<std::size_t>(kMinCorners)};
    const bool settled = SettleInliers(use, 4, rule, [&](const std::vector<bool>& on, std::vector<double>& error) {
        if (!FitLensModel(lp, on, LensStage::Form::Fisheye, lens, have ? &lens : nullptr)) {
            return false;
        }
        have = true;
        // Where the fitted lens would see each corner, in the camera image.
        const cv::Matx33d toUndistorted = lens.homography.inv();
        error.resize(pairs.size());
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const cv::Point2d predicted = DistortPixel(lens, ApplyHomography(toUndistorted, lp.display[i]));
            const double e = cv::norm(predicted - lp.camera[i]);
            error[i] = std::isfinite(e) ? e : 1e9;
        }
        return true;
    });
    if (!settled) {
        return;  // nothing to judge by, or too few left to judge: keep them all
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
