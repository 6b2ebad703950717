#include "touch/drift.h"

#include <cmath>

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

namespace quarvel::detail {
namespace {

// A registration that correlates less than this is a changed scene, not a
// moved camera.
constexpr double kLeastCorrelation = 0.8;
// Pixels: light smoother than this is not structure.
constexpr double kBroadSigma = 2.0;
// The registration's working width, pixels.
constexpr int kWidest = 200;

}  // namespace

cv::Mat DriftWatch::Prepared(const cv::Mat& background) {
    // At most kWidest pixels wide (halved as often as that takes), and
    // structure only: light that changes smoothly across the picture (the
    // room's light, a lamp's broad glow) is taken away, or it would pass
    // for a shift.
    cv::Mat small = background;
    scale_ = 1.0;
    while (small.cols > kWidest) {
        cv::Mat half;
        cv::pyrDown(small, half);
        small = half;
        scale_ *= 2.0;
    }
    cv::Mat broad;
    cv::GaussianBlur(small, broad, cv::Size(), kBroadSigma);
    return small - broad;
}

void DriftWatch::Reference(const cv::Mat& background) {
    reference_ = Prepared(background);
    motion_ = inverse_ = cv::Matx23d(1, 0, 0, 0, 1, 0);
    warp_ = cv::Matx23f(1, 0, 0, 0, 1, 0);
    measured_ = false;
}

bool DriftWatch::Measure(const cv::Mat& background) {
    if (reference_.empty() || background.empty()) {
        return false;
    }
    const cv::Mat now = Prepared(background);
    if (now.size() != reference_.size()) {
        return false;
    }
    cv::Mat warp(warp_);  // from the last estimate: a camera moves once, then stays
    double correlation = 0.0;
    try {
        correlation = cv::findTransformECC(reference_, now, warp, cv::MOTION_EUCLIDEAN,
                                           cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 30, 1e-4),
                                           cv::noArray(), 5);
    } catch (const cv::Exception&) {
        return false;  // did not converge
    }
    if (!(correlation >= kLeastCorrelation)) {
        return false;
    }
    warp_ = cv::Matx23f(warp);
    // pyrDown centres half-resolution pixel i on full-resolution pixel 2i:
    // the rotation is the same, the shift twice as long.
    // pyrDown centres a halved image's pixel i on pixel 2i: the rotation
    // is the same at full resolution, the shift longer by the scale.
    motion_ = cv::Matx23d(warp_(0, 0), warp_(0, 1), scale_ * warp_(0, 2), warp_(1, 0), warp_(1, 1),
                          scale_ * warp_(1, 2));
    cv::invertAffineTransform(motion_, inverse_);
    measured_ = true;
    return true;
}

cv::Point2d DriftWatch::Back(const cv::Point2d& now) const noexcept {
    return {inverse_(0, 0) * now.x + inverse_(0, 1) * now.y + inverse_(0, 2),
            inverse_(1, 0) * now.x + inverse_(1, 1) * now.y + inverse_(1, 2)};
}

}  // namespace quarvel::detail
