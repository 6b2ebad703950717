#ifndef QUARVEL_SRC_TOUCH_DRIFT_H
#define QUARVEL_SRC_TOUCH_DRIFT_H
// Whether the camera moved since its background was first learned (a
// cleaner's elbow, a loose mount): the background now against the one
// learned then, registered as a Euclidean motion on the background's own
// structure (the surface's frame, the illuminators' hot spots). A change
// of light (a lamp) leaves the structure where it was. Only what the
// structure can show is measured: a background whose structure is one hot
// spot shows a shift but no turn, a plain one nothing.

#include <opencv2/core.hpp>

namespace quarvel::detail {

class DriftWatch {
public:
    // The background the camera's motion is measured from (CV_32F).
    void Reference(const cv::Mat& background);
    bool hasReference() const noexcept { return !reference_.empty(); }
    // A frame now (CV_32F) against the reference: true when the motion was
    // measured (the registration converged and fits well), kept in motion().
    bool Measure(const cv::Mat& background);
    // Reference camera pixels to where they are seen now (full resolution;
    // pixel centres whole numbers).
    const cv::Matx23d& motion() const noexcept { return motion_; }
    // Where a pixel seen now was in the reference.
    cv::Point2d Back(const cv::Point2d& now) const noexcept;
    bool measured() const noexcept { return measured_; }
    // Whether the reference's structure shows a turn (else only shifts are
    // measured), and a shift (else nothing is).
    bool turns() const noexcept { return turns_; }
    bool shifts() const noexcept { return shifts_; }

private:
    cv::Mat Prepared(const cv::Mat& background);

    cv::Mat reference_;  // at the working width, its structure
    double scale_ = 1.0;  // full resolution over the working width
    cv::Matx23d motion_ = cv::Matx23d(1, 0, 0, 0, 1, 0);
    cv::Matx23d inverse_ = cv::Matx23d(1, 0, 0, 0, 1, 0);
    cv::Matx23f warp_ = cv::Matx23f(1, 0, 0, 0, 1, 0);  // at half resolution, the registration's own
    bool measured_ = false;
    bool turns_ = false;
    bool shifts_ = false;
};

}  // namespace quarvel::detail

#endif
