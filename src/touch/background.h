#ifndef QUARVEL_SRC_TOUCH_BACKGROUND_H
#define QUARVEL_SRC_TOUCH_BACKGROUND_H

// What the camera sees when nothing touches, and how the next frame
// compares with it.
//
// The background B is learned from frames that have stopped changing. Each
// later frame is taken as gain * B + offset: the two are fitted, robustly,
// on a grid of pixels no blob covered in the frame before, so a camera's
// automatic exposure and a flickering room light change nothing. Pixels
// count where they exceed that prediction. Then B takes the frame's gain
// and offset, and, where nothing was found, follows the frame: slowly
// where the frame is brighter, fast where it is darker.

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/touch.h>

namespace quarvel::detail {

class Background {
public:
    enum class Step {
        Learning,  // the frame was learned (or the picture is still settling)
        Lost,      // the frame does not fit the background: nothing is found in it
        Ready,     // `low` marks the pixels above half the threshold
    };

    explicit Background(const BlobOptions& options);

    // Takes the next frame (8-bit grey). Once learned: fits the gain, then
    // in one pass over the pixels marks in `low` (CV_8U, 255) those above
    // the low threshold (in `rows` the rows that hold any), and learns the
    // frame where nothing is marked and the last frame found nothing (see
    // Found). Predict then gives this frame's background. A frame of
    // another size starts over.
    Step Take(const cv::Mat& grey, cv::Mat& low, std::vector<unsigned char>& rows);

    // What the frame just taken held: where something was found (the next
    // frame does not learn there, nor fit its gain on it) and whether it was
    // a storm of specks (the next frame learns nothing).
    void Found(const std::vector<cv::Rect>& covered, bool storm);

    // The frame's pixels in `box` (where `mask`, CV_8U over box, is set;
    // everywhere when it is empty) become background at once.
    void Relearn(const cv::Mat& grey, cv::Rect box, const cv::Mat& mask, bool still);

    // The background in `box` rises by `levels` (grey levels of this frame).
    void Raise(cv::Rect box, double levels);

    // The background's value for this frame at a pixel.
    double Predict(int x, int y) const noexcept {
        return gain_ * static_cast<double>(values_.ptr<float>(y)[x]) + offset_;
    }
    const float* Row(int y) const noexcept { return values_.ptr<float>(y); }
    // The background learned (CV_32F), as the frame would show it at gain 1.
    const cv::Mat& values() const noexcept { return values_; }
    double gain() const noexcept { return gain_; }
    double offset() const noexcept { return offset_; }
    double threshold() const noexcept { return threshold_; }
    double lowThreshold() const noexcept { return low_; }
    double minArea() const noexcept { return minArea_; }
    double maxArea() const noexcept { return maxArea_; }
    double fingerDiameter() const noexcept { return finger_; }

    bool learning() const noexcept { return !learned_; }
    cv::Size size() const noexcept { return size_; }
    const BlobOptions& options() const noexcept { return options_; }
    BackgroundStatus status() const noexcept;

private:
    void Start(cv::Size size);
    void Learn(const cv::Mat& grey);
    bool FitGain(const cv::Mat& grey);
    void Sample(const cv::Mat& grey, std::vector<float>& out) const;

    BlobOptions options_;
    cv::Size size_;
    int step_ = 1;              // between sampled pixels
    double finger_ = 0.0;
    double minArea_ = 0.0;
    double maxArea_ = 0.0;
    double threshold_ = 0.0;
    double low_ = 0.0;
    double noise_ = 0.0;
    bool learned_ = false;
    int gathered_ = 0;          // frames summed while learning
    std::vector<double> means_;  // the last frames' sampled means
    std::vector<float> lastSamples_;
    std::vector<double> pairNoise_;  // per pair of learning frames
    cv::Mat values_;            // CV_32F: B (the sum, while learning)
    double gain_ = 1.0;     // this frame against the background
    double offset_ = 0.0;
    double totalGain_ = 1.0;  // the background against the one learned
    double totalOffset_ = 0.0;
    int lostInRow_ = 0;
    std::vector<unsigned char> excluded_;  // per sample: covered in the last frame
    std::vector<cv::Rect> covered_;        // what the last frame found
    bool stormy_ = false;                  // the last frame was a storm of specks
    std::vector<std::pair<int, int>> spans_;  // a row's covered stretches
    std::vector<float> b_, i_, r_, scratch_;  // the gain fit's samples
    std::vector<int> counts_;
    cv::Mat flags_;             // CV_8U: per pixel, kClipped and kDarker (background_pass.h)
    long long settling_ = 0;
    long long relearned_ = 0;
    long long absorbed_ = 0;
};

}  // namespace quarvel::detail

#endif
