#include "touch/blob_detector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

namespace quarvel::detail {
namespace {

// Pixels beside a blob that still carry its light (the finger's soft
// edge): they weigh into its centre and the background does not learn them.
constexpr int kMargin = 2;

BlobOptions Sane(BlobOptions o) {
    const BlobOptions d;
    o.backgroundFrames = std::clamp(o.backgroundFrames, 1, 10000);
    if (!(o.threshold > 0.0 && o.threshold < 255.0)) {
        o.threshold = d.threshold;
    }
    if (!(o.minArea >= 1.0)) {
        o.minArea = 1.0;
    }
    if (!(o.maxArea >= o.minArea)) {
        o.maxArea = std::max(o.minArea, d.maxArea);
    }
    if (!(o.adaptation >= 0.0 && o.adaptation <= 1.0)) {
        o.adaptation = d.adaptation;
    }
    return o;
}

bool AnyNonZero(const unsigned char* p, int n) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        if (word != 0) {
            return true;
        }
    }
    for (; i < n; ++i) {
        if (p[i] != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

BlobDetector::BlobDetector(const BlobOptions& options) : options_(Sane(options)) {}

void BlobDetector::Learn(const cv::Mat& grey) {
    if (learned_ == 0) {
        background_.create(grey.size(), CV_32F);
        background_.setTo(0.0);
    }
    cv::accumulate(grey, background_);
    if (++learned_ == options_.backgroundFrames) {
        background_ *= 1.0 / learned_;
        background_.convertTo(level_, CV_8U, 1.0, options_.threshold);
    }
}

bool BlobDetector::Detect(const cv::Mat& grey, std::vector<Blob>& blobs) {
    blobs.clear();
    if (grey.size() != size_) {
        size_ = grey.size();
        learned_ = 0;
    }
    if (learning()) {
        Learn(grey);
        return false;
    }

    // Bands of rows with pixels above the level, then, within each band,
    // runs of columns with such pixels: every connected blob lies inside
    // one band and one run, so only those boxes are labelled.
    cv::compare(grey, level_, mask_, cv::CMP_GT);
    found_.clear();
    columns_.resize(static_cast<std::size_t>(size_.width));
    for (int y = 0; y < size_.height;) {
        if (!AnyNonZero(mask_.ptr(y), size_.width)) {
            ++y;
            continue;
        }
        const int top = y;
        std::fill(columns_.begin(), columns_.end(), 0);
        for (; y < size_.height && AnyNonZero(mask_.ptr(y), size_.width); ++y) {
            const unsigned char* row = mask_.ptr(y);
            for (int x = 0; x < size_.width; ++x) {
                columns_[static_cast<std::size_t>(x)] |= row[x];
            }
        }
        for (int x = 0; x < size_.width;) {
            if (columns_[static_cast<std::size_t>(x)] == 0) {
                ++x;
                continue;
            }
            const int left = x;
            while (x < size_.width && columns_[static_cast<std::size_t>(x)] != 0) {
                ++x;
            }
            Measure(grey, cv::Rect(left, top, x - left, y - top), blobs);
        }
    }
    Adapt(grey);
    return true;
}

void BlobDetector::Measure(const cv::Mat& grey, cv::Rect box, std::vector<Blob>& blobs) {
    const int n = cv::connectedComponentsWithStats(mask_(box), labels_, stats_, centroids_, 8, CV_32S);
    // Each pixel weighs by how far it rises above half the threshold, so a
    // blob's soft edge counts a little and the noise floor not at all.
    const double base = 0.5 * options_.threshold;
    const cv::Rect frame(cv::Point(0, 0), size_);
    for (int label = 1; label < n; ++label) {
        const int* s = stats_.ptr<int>(label);
        const double area = s[cv::CC_STAT_AREA];
        if (area < options_.minArea || area > options_.maxArea) {
            continue;
        }
        const cv::Rect own(box.x + s[cv::CC_STAT_LEFT], box.y + s[cv::CC_STAT_TOP], s[cv::CC_STAT_WIDTH],
                           s[cv::CC_STAT_HEIGHT]);
        const cv::Rect around = (own + cv::Size(2 * kMargin, 2 * kMargin) - cv::Point(kMargin, kMargin)) & frame;
        double sum = 0.0, sx = 0.0, sy = 0.0;
        for (int y = around.y; y < around.y + around.height; ++y) {
            const unsigned char* g = grey.ptr(y);
            const float* b = background_.ptr<float>(y);
            const unsigned char* m = mask_.ptr(y);
            const bool inBox = y >= box.y && y < box.y + box.height;
            for (int x = around.x; x < around.x + around.width; ++x) {
                if (m[x] != 0) {
                    // Above the threshold: this blob's own pixels only, not a
                    // neighbour's.
                    if (!inBox || x < box.x || x >= box.x + box.width ||
                        labels_.at<int>(y - box.y, x - box.x) != label) {
                        continue;
                    }
                }
                const double w = (static_cast<double>(g[x]) - static_cast<double>(b[x])) - base;
                if (w > 0.0) {
                    sum += w;
                    sx += w * x;
                    sy += w * y;
                }
            }
        }
        if (sum > 0.0) {
            blobs.push_back({cv::Point2d(sx / sum, sy / sum), area});
            found_.push_back(around);
        }
    }
}

void BlobDetector::Adapt(const cv::Mat& grey) {
    if (options_.adaptation <= 0.0) {
        return;
    }
    keep_.create(size_, CV_8U);
    keep_.setTo(255);
    for (const cv::Rect& r : found_) {
        keep_(r).setTo(0);
    }
    cv::accumulateWeighted(grey, background_, options_.adaptation, keep_);
    background_.convertTo(level_, CV_8U, 1.0, options_.threshold);
}

}  // namespace quarvel::detail
