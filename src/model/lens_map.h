#ifndef QUARVEL_SRC_MODEL_LENS_MAP_H
#define QUARVEL_SRC_MODEL_LENS_MAP_H

// The lens stage as a model applies it: for every node of a lattice over
// the camera image (every 8 pixels, fewer on images wider than 2048
// pixels so that a side never has more than 256 nodes; two nodes beyond
// each edge),
// the position the barrel and matrix should be given; Catmull-Rom
// interpolation between nodes (accurate to about 1e-3 camera pixels for the
// strongest lenses a fit takes); and, built the first time a batch of
// integer points asks, the corrected integer position of every camera
// pixel (for images up to kTableArea pixels), so that batches cost one
// lookup a point.

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/types_c.h>

#include <quarvel/lens.h>
#include <quarvel/model.h>

namespace quarvel::detail {

struct Chain;

class LensMap {
public:
    static constexpr int kStep = 8;           // camera pixels between nodes, at least
    static constexpr int kMostNodes = 256;    // nodes along a side of the image, at most
    static constexpr int kMargin = 2;         // nodes beyond each edge of the image
    // The largest image whose every pixel the table holds (4096 x 2160,
    // 71 MB); beyond it points are corrected one by one, as exactly.
    static constexpr long long kTableArea = 4096LL * 2160;
    // A batch of at least this many points builds the table; smaller ones
    // (a tracker's few contacts a frame) are corrected one by one until
    // it exists.
    static constexpr std::size_t kTableBatch = 65536;

    // The stage of `params` for the plain chain `plain` (the barrel and
    // matrix of the same parameters on the model's display).
    LensMap(const CalibrationParams& params, const Chain& plain);

    // The position the barrel and matrix are given for camera position p
    // (NaN beyond the lattice, or where the lens has no inverse).
    cv::Point2d Stage(const cv::Point2d& p) const noexcept;

    // The full chain for camera position p: the plain chain's unrounded
    // quotients at Stage(p).
    cv::Point2d Correct(const cv::Point2d& p) const noexcept;
    // Rounded as the integer chain rounds: trunc(v + 0.5), INT_MIN where
    // there is no integer value.
    CvPoint CorrectPixel(const CvPoint& p) const noexcept;
    // n integer points: each as CorrectPixel, bit for bit, through the
    // table of every camera pixel (built by the first large batch).
    void CorrectPixels(const CvPoint* in, CvPoint* out, std::size_t n) const noexcept;

    // The camera position the full chain carries to `display`: the plain
    // chain's inverse is not needed (the stage undoes it), only the lens
    // model forward, the homography's inverse and a few steps for the
    // residual. NaN where there is none.
    cv::Point2d Invert(const cv::Point2d& display) const noexcept;

    const LensStage& lens() const noexcept { return lens_; }

private:
    const std::vector<CvPoint>* Table(std::size_t batch) const noexcept;

    LensStage lens_;
    cv::Size image_;
    std::unique_ptr<Chain> plain_;
    cv::Matx33d toUndistorted_;  // the homography's inverse
    int step_ = kStep;           // camera pixels between nodes
    int columns_ = 0;            // nodes across and down
    int rows_ = 0;
    std::vector<cv::Point2d> nodes_;  // row by row
    mutable std::once_flag tableOnce_;
    mutable std::vector<CvPoint> table_;  // every camera pixel, row by row
    mutable std::atomic<bool> tableBuilt_{false};
};

}  // namespace quarvel::detail

#endif
