#include "touch/drift.h"

#include <algorithm>
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
// A turn is measured only when the structure reaches this share of the
// picture's half diagonal from the centre (a surface's frame does; one hot
// spot does not: turning the camera only shifts it).
constexpr double kLeastTurnReach = 0.15;
// A shift is measured only where the structure shows it in every direction:
// the weaker direction's share of the stronger (one straight edge shows
// none along itself).
constexpr double kLeastShiftBalance = 0.02;

// What the structure can show of a motion: the normal matrix of a shift
// and a turn about the centre, from the image's gradients. A turn by phi
// is told apart from a shift as well as a shift by phi x `reach` is.
struct Observable {
    double reach = 0.0;    // pixels
    double balance = 0.0;  // the shift's weaker direction over its stronger
};

Observable Observe(const cv::Mat& structure) {
    cv::Mat gx;
    cv::Mat gy;
    cv::Sobel(structure, gx, CV_64F, 1, 0, 3);
    cv::Sobel(structure, gy, CV_64F, 0, 1, 3);
    const double cx = (structure.cols - 1) / 2.0;
    const double cy = (structure.rows - 1) / 2.0;
    cv::Matx33d h = cv::Matx33d::zeros();
    for (int y = 0; y < structure.rows; ++y) {
        const double* px = gx.ptr<double>(y);
        const double* py = gy.ptr<double>(y);
        for (int x = 0; x < structure.cols; ++x) {
            const cv::Vec3d v(px[x], py[x], (x - cx) * py[x] - (y - cy) * px[x]);
            h += v * v.t();
        }
    }
    Observable o;
    const cv::Matx22d shift(h(0, 0), h(0, 1), h(1, 0), h(1, 1));
    const double trace = (shift(0, 0) + shift(1, 1)) / 2.0;
    if (!(trace > 0.0)) {
        return o;
    }
    cv::Vec2d eigen;
    cv::eigen(shift, eigen);
    o.balance = eigen[0] > 0 ? eigen[1] / eigen[0] : 0.0;
    if (cv::determinant(shift) <= 0.0) {
        return o;
    }
    // What is left of the turn once the shift has explained what it can.
    const cv::Vec2d cross(h(0, 2), h(1, 2));
    const double turn = h(2, 2) - cross.dot(shift.inv() * cross);
    o.reach = std::sqrt(std::max(turn, 0.0) / trace);
    return o;
}

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
    const Observable o = Observe(reference_);
    shifts_ = o.balance >= kLeastShiftBalance;
    turns_ = shifts_ && o.reach >= kLeastTurnReach * std::hypot(reference_.cols, reference_.rows) / 2.0;
    motion_ = inverse_ = cv::Matx23d(1, 0, 0, 0, 1, 0);
    warp_ = cv::Matx23f(1, 0, 0, 0, 1, 0);
    measured_ = false;
}

bool DriftWatch::Measure(const cv::Mat& background) {
    if (reference_.empty() || background.empty() || !shifts_) {
        return false;
    }
    const cv::Mat now = Prepared(background);
    if (now.size() != reference_.size()) {
        return false;
    }
    cv::Mat warp(warp_);  // from the last estimate: a camera moves once, then stays
    double correlation = 0.0;
    try {
        correlation = cv::findTransformECC(reference_, now, warp, turns_ ? cv::MOTION_EUCLIDEAN : cv::MOTION_TRANSLATION,
                                           cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 30, 1e-4),
                                           cv::noArray(), 5);
    } catch (const cv::Exception&) {
        return false;  // did not converge
    }
    if (!(correlation >= kLeastCorrelation)) {
        return false;
    }
    warp_ = cv::Matx23f(warp);
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
