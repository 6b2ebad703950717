#ifndef QUARVEL_SRC_TOUCH_BLOB_DETECTOR_H
#define QUARVEL_SRC_TOUCH_BLOB_DETECTOR_H

#include <algorithm>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/touch.h>

#include "touch/background.h"
#include "touch/run_labels.h"

namespace quarvel::detail {

struct Blob {
    cv::Point2d centre;  // intensity-weighted, camera pixels
    double area = 0.0;   // pixels above the threshold
    cv::Rect box;        // the pixels that weighed into the centre
    // In a region the background took in all at once a moment ago (a
    // lamp's edge, where a palm rested): it may continue a contact but
    // never starts one.
    bool quiet = false;
};

// Bright blobs against the background (background.h). Pixels count when
// they exceed the background by the threshold; a blob is a connected set
// of pixels above half of it (so a blob's soft edge belongs to it, and a
// palm that rises slowly is large from its first frame), holding pixels
// above the threshold itself. Blobs smaller than minArea are noise;
// larger than maxArea, a region that changed: never a blob, taken into the
// background after relearnFrames frames, except for what stands out of it
// (a finger under a lamp).
class BlobDetector {
public:
    enum class Outcome {
        Learning,  // the background is being learned: no blobs
        Lost,      // the frame does not look like the scene: no blobs, nothing learned
        Detected,
    };

    explicit BlobDetector(const BlobOptions& options);

    // The blobs of the next frame (8-bit grey), at most maxBlobs of them,
    // the largest. A frame of another size than the last starts the
    // learning over. `expected`: where fingers already followed should be;
    // a set larger than maxArea that holds two or more of them is those
    // fingers merged (passing close), not a region that changed.
    Outcome Detect(const cv::Mat& grey, std::vector<Blob>& blobs, const std::vector<cv::Point2d>& expected = {});

    // `blob` of the frame just detected, shared out among `seeds` (the
    // places where fingers that merged into it are expected): each pixel
    // goes to the nearest centre, the centres move to their pixels' weighted
    // mean, a few times over. One blob per seed, in the seeds' order.
    std::vector<Blob> Split(const cv::Mat& grey, const Blob& blob, const std::vector<cv::Point2d>& seeds) const;

    // The pixels of the frame just detected around `box` become background
    // (a blob that never moves).
    void Absorb(const cv::Mat& grey, cv::Rect box);

    // The frame just detected held a storm of specks (more than stormSpecks):
    // what is measured in it is measured through them.
    bool storm() const noexcept { return storm_; }
    bool learning() const noexcept { return background_.learning(); }
    cv::Size size() const noexcept { return background_.size(); }
    const BlobOptions& options() const noexcept { return background_.options(); }
    double fingerDiameter() const noexcept { return background_.fingerDiameter(); }
    BackgroundStatus status() const noexcept { return background_.status(); }

private:
    struct Region {  // a connected set larger than maxArea
        cv::Rect box;
        cv::Mat mask;  // CV_8U over box: its pixels
        int age = 0;   // frames in a row it has been seen
        std::vector<cv::Rect> peaks;  // blobs that stand out of it: never learned with it
        double typical = 0.0;         // its typical rise over the background, grey levels
    };
    struct Quiet {   // where a region was taken in
        cv::Rect box;
        cv::Mat mask;
        long long until = 0;  // the frame number it lasts to
    };

    void Label(const cv::Mat& grey, std::vector<Blob>& blobs, std::vector<Region>& large,
               const std::vector<cv::Point2d>& expected);
    void Component(const cv::Mat& grey, std::size_t index, std::vector<Blob>& blobs, std::vector<Region>& large,
                   const std::vector<cv::Point2d>& expected);
    void Peaks(const cv::Mat& grey, Region& region, std::vector<Blob>& blobs);
    void Measure(const cv::Mat& grey, const cv::Mat& own, cv::Rect box, double area, std::vector<Blob>& blobs);
    void FollowRegions(const cv::Mat& grey, std::vector<Region>& large);
    bool InQuiet(const Blob& blob) const;
    // Mean-shift from `centre` over the pixels of `box` above half the
    // threshold, with a Gaussian window of `width`.
    cv::Point2d Narrowed(const cv::Mat& grey, cv::Rect box, cv::Point2d centre, double width);
    // The side of the solid square a finger's pixels above the threshold
    // hold: two fifths of its diameter.
    int Core() const noexcept { return std::max(1, static_cast<int>(0.4 * background_.fingerDiameter())); }

    Background background_;
    long long frame_ = 0;
    int specks_ = 0;  // in this frame
    bool storm_ = false;
    cv::Mat low_;  // CV_8U: pixels above half the threshold
    RunLabels low_parts_;   // the sets above the low threshold
    RunLabels high_parts_;  // within one of them, the sets above the threshold
    cv::Mat own_;   // CV_8U: one component's pixels in its box
    cv::Mat near_;  // CV_8U: the pixels that weigh into its centre
    std::vector<unsigned char> rows_;
    std::vector<int> runs_;
    std::vector<unsigned char> line_;
    std::vector<cv::Point3d> weights_;  // x, y and weight of a blob's pixels
    std::vector<Region> regions_;
    std::vector<Quiet> quiet_;
    std::vector<cv::Rect> covered_;  // this frame's blobs and regions, kept out of learning
};

}  // namespace quarvel::detail

#endif
