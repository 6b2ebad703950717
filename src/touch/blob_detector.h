#ifndef QUARVEL_SRC_TOUCH_BLOB_DETECTOR_H
#define QUARVEL_SRC_TOUCH_BLOB_DETECTOR_H

#include <algorithm>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/touch.h>

#include "touch/background.h"
#include "touch/deblend.h"
#include "touch/patch.h"
#include "touch/peaks.h"
#include "touch/run_labels.h"

namespace quarvel::detail {

struct Blob {
    cv::Point2d centre;  // intensity-weighted, camera pixels
    double area = 0.0;   // pixels above the threshold
    cv::Rect box;        // the pixels that weighed into the centre
    // In a region the background took in all at once a moment ago (a
    // lamp's edge, where a palm rested), and not a clear fingertip: it may
    // continue a contact but never starts one.
    bool quiet = false;
};

// Fingertips against the background (background.h). Pixels count when
// they exceed the background by the threshold; a set of pixels is the
// connected pixels above the low threshold (so a blob's soft edge belongs
// to it, and a palm that rises slowly is large from its first frame),
// holding pixels above the threshold itself. In each set, every peak of
// its light that stands out of the saddle to a higher one by more than
// noise allows is a fingertip of its own (two fingertips side by side),
// placed by sharing the light out among them. Sets smaller than minArea
// are noise; larger than maxArea, a region that changed (a lamp, a palm):
// never a blob itself, taken into the background after relearnFrames
// frames; the fingertips that stand out of its local level (a finger under
// a lamp) are blobs all the same.
class BlobDetector {
public:
    enum class Outcome {
        Learning,  // the background is being learned: no blobs
        Lost,      // the frame does not look like the scene: no blobs, nothing learned
        Detected,
    };

    explicit BlobDetector(const BlobOptions& options);

    // The blobs of the next frame (8-bit grey), at most maxBlobs of them,
    // the largest. A frame of another size starts the learning over.
    // `expected`: where fingers already followed should be; a set larger
    // than maxArea that holds two or more of them is those fingers merged
    // (passing close), not a region that changed.
    Outcome Detect(const cv::Mat& grey, std::vector<Blob>& blobs, const std::vector<cv::Point2d>& expected = {});

    // `blob` of the frame just detected, shared out among `seeds` (where
    // fingers whose light joined into one peak are expected): each pixel
    // goes to the nearest centre, the centres move to their pixels'
    // weighted mean, a few times over. One blob per seed, in their order.
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
    const cv::Mat& backgroundValues() const noexcept { return background_.values(); }

private:
    struct Region {  // a connected set larger than maxArea
        cv::Rect box;
        cv::Mat mask;  // CV_8U over box: its pixels
        int age = 0;   // frames in a row it has been seen
        std::vector<cv::Rect> peaks;     // fingertips that stand out of it: never learned with it
        std::vector<double> peakLevels;  // its local level under each, grey levels
    };
    struct Quiet {  // where a region was taken in
        cv::Rect box;
        cv::Mat mask;
        long long until = 0;  // the frame number it lasts to
    };

    // Sorts the sets of marked pixels: specks (counted), regions, and the
    // candidates for fingertips.
    void Sort(const cv::Mat& grey, const std::vector<cv::Point2d>& expected, std::vector<std::size_t>& candidates,
              std::vector<Region>& large);
    // One set larger than a speck: a region, a candidate, or specks.
    void Classify(const cv::Mat& grey, std::size_t part, const std::vector<cv::Point2d>& expected,
                  std::vector<std::size_t>& candidates, std::vector<Region>& large);
    bool Reaches(const cv::Mat& grey, std::size_t part) const;
    // Whether a set larger than maxArea is fingertips side by side.
    bool Group(const cv::Mat& grey, std::size_t part);
    // The set's window: its rise over the background, and who owns each pixel.
    void Fill(const cv::Mat& grey, std::size_t part, int margin, Patch& patch) const;
    // The fingertips of one set, from its window.
    void Fingertips(const Patch& patch, std::vector<Blob>& blobs);
    // One fingertip, measured alone.
    void Measure(const Patch& patch, double area, std::vector<Blob>& blobs);
    // Several, measured together.
    void Apart(const Patch& patch, const std::vector<Peak>& peaks, std::vector<Blob>& blobs);
    // The fingertips that stand out of a region's local level.
    void RegionFingertips(const cv::Mat& grey, Region& region, std::vector<Blob>& blobs);
    // Those of one set of pixels that does (region coordinates).
    void StandingOut(Region& region, cv::Rect within, const std::vector<float>& level, std::vector<Blob>& blobs);
    void FollowRegions(const cv::Mat& grey, std::vector<Region>& large);
    bool InQuiet(const Blob& blob) const;
    PeakRules Rules() const;
    // The light each pixel of the patch weighs with: above half the
    // threshold, its own or free.
    void Weights(const Patch& patch);
    // The side of the solid square a finger's pixels above the threshold
    // hold: two fifths of its diameter.
    int Core() const noexcept { return std::max(1, static_cast<int>(0.4 * background_.fingerDiameter())); }

    Background background_;
    long long frame_ = 0;
    int specks_ = 0;  // in this frame
    bool storm_ = false;
    cv::Mat low_;  // CV_8U: pixels above the low threshold
    std::vector<unsigned char> rows_;
    RunLabels parts_;  // the sets above the low threshold
    Patch patch_;
    std::vector<Patch> candidates_;  // the windows of this frame's candidate sets, in order
    std::vector<int> candidateHigh_;  // and their pixels above the threshold
    std::vector<float> weights_;
    std::vector<float> level_;  // a region's local level
    cv::Mat high_;              // a region's pixels above it by the threshold
    RunLabels highParts_;
    std::vector<cv::Point3d> samples_;  // x, y and weight of a blob's pixels
    std::vector<int> runs_;
    std::vector<unsigned char> line_;
    PeakFinder peaks_;
    Deblender deblender_;
    std::vector<Region> regions_;
    std::vector<Quiet> quiet_;
    std::vector<cv::Rect> covered_;  // this frame's blobs and regions, kept out of learning
};

}  // namespace quarvel::detail

#endif
