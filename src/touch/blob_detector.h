#ifndef QUARVEL_SRC_TOUCH_BLOB_DETECTOR_H
#define QUARVEL_SRC_TOUCH_BLOB_DETECTOR_H

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/touch.h>

namespace quarvel::detail {

struct Blob {
    cv::Point2d centre;  // intensity-weighted, camera pixels
    double area = 0.0;   // pixels above the threshold
};

// Bright blobs against a learned background. The background is the mean
// of the first backgroundFrames frames; after that it follows each frame
// by `adaptation` wherever no blob was found, so static light and slow
// changes stay background. A frame's pixels count when they exceed the
// background by `threshold`.
class BlobDetector {
public:
    explicit BlobDetector(const BlobOptions& options);

    // The blobs of the next frame (8-bit grey). Returns false, with no
    // blobs, while the background is being learned. A frame of another size
    // than the last starts the learning over.
    bool Detect(const cv::Mat& grey, std::vector<Blob>& blobs);

    bool learning() const noexcept { return learned_ < options_.backgroundFrames; }
    const BlobOptions& options() const noexcept { return options_; }
    cv::Size size() const noexcept { return size_; }

private:
    void Learn(const cv::Mat& grey);
    void Measure(const cv::Mat& grey, cv::Rect box, std::vector<Blob>& blobs);
    void Adapt(const cv::Mat& grey);

    BlobOptions options_;
    cv::Size size_;
    int learned_ = 0;
    cv::Mat background_;  // CV_32F; the sum of the frames while learning
    cv::Mat level_;       // CV_8U: background + threshold, rounded
    cv::Mat mask_;        // CV_8U: pixels above the level
    cv::Mat keep_;        // CV_8U: where the background may adapt
    cv::Mat labels_, stats_, centroids_;
    std::vector<unsigned char> columns_;
    std::vector<cv::Rect> found_;  // the blobs' regions in this frame
};

}  // namespace quarvel::detail

#endif
