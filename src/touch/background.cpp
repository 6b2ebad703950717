#include "touch/background.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "numeric/robust.h"
#include "touch/background_pass.h"
#include "touch/options.h"

namespace quarvel::detail {
namespace {

constexpr int kSamples = 4096;       // pixels the gain is fitted on, about
constexpr std::size_t kSpreadStride = 6;  // of them, those the fit's gate is set by
constexpr double kLeastGain = 0.3;   // a frame darker or brighter than this is not the scene
constexpr double kMostGain = 3.0;
constexpr double kLeastInliers = 0.5;  // share of samples the fit must explain
constexpr int kLostBeforeRelearning = 10;
// A frame's gain this close to 1 is taken as 1: slow changes of the light
// (which are not quite a gain) would otherwise walk the background's scale
// away, and with it every pixel the camera saturates.
constexpr double kGainDeadBand = 0.02;

// The robust spread of the differences between two samplings of the
// scene, once the second is fitted to the first (a flickering light
// scales one frame against the next): one sensor's noise, as a standard
// deviation.
double PairNoise(const std::vector<float>& a, const std::vector<float>& b, std::vector<float>& scratch) {
    double n = 0, sb = 0, sa = 0, sbb = 0, sba = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        n += 1;
        sb += b[i];
        sa += a[i];
        sbb += static_cast<double>(b[i]) * b[i];
        sba += static_cast<double>(b[i]) * a[i];
    }
    const double varB = n > 0 ? sbb / n - (sb / n) * (sb / n) : 0.0;
    const double gain = varB > 16.0 ? (sba / n - (sb / n) * (sa / n)) / varB : 1.0;
    scratch.resize(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        scratch[i] = static_cast<float>(a[i] - gain * b[i]);
    }
    const double middle = MedianInPlace(scratch);
    for (float& d : scratch) {
        d = static_cast<float>(std::abs(d - middle));
    }
    return RobustSigma(MedianInPlace(scratch)) / std::sqrt(1.0 + gain * gain);
}

// Frames whose mean brightness is compared, as two windows of this many:
// a multiple of 2 and 3, so that mains flicker seen at 30 or 60 frames a
// second (a swing every 2 or 3 frames) cancels within a window.
constexpr std::size_t kSettleWindow = 6;

}  // namespace

Background::Background(const BlobOptions& options) : options_(SaneBlobOptions(options)) {}

void Background::Start(cv::Size size) {
    size_ = size;
    step_ = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(size.area()) / kSamples)));
    finger_ = options_.fingerDiameter > 0.0 ? options_.fingerDiameter : std::max(size.width, size.height) / 64.0;
    const double fingerArea = M_PI / 4.0 * finger_ * finger_;
    minArea_ = options_.minArea > 0.0 ? options_.minArea : std::max(1.0, 0.2 * fingerArea);
    maxArea_ = options_.maxArea > 0.0 ? options_.maxArea : 5.0 * fingerArea;
    maxArea_ = std::max(maxArea_, minArea_);
    learned_ = false;
    gathered_ = 0;
    means_.clear();
    lastSamples_.clear();
    pairNoise_.clear();
    gain_ = 1.0;
    offset_ = 0.0;
    lostInRow_ = 0;
    excluded_.clear();
    covered_.clear();
    stormy_ = false;
}

void Background::Sample(const cv::Mat& grey, std::vector<float>& out) const {
    out.clear();
    for (int y = step_ / 2; y < size_.height; y += step_) {
        const unsigned char* row = grey.ptr(y);
        for (int x = step_ / 2; x < size_.width; x += step_) {
            out.push_back(row[x]);
        }
    }
}

void Background::Learn(const cv::Mat& grey) {
    Sample(grey, i_);
    double mean = 0.0;
    for (const float v : i_) {
        mean += v;
    }
    mean /= static_cast<double>(std::max<std::size_t>(1, i_.size()));
    // Settled: the mean of the last frames differs from the mean of the
    // frames before them by less than settleChange of it.
    means_.push_back(mean);
    if (means_.size() > 2 * kSettleWindow) {
        means_.erase(means_.begin());
    }
    const std::size_t w = std::min(kSettleWindow, means_.size() / 2);
    bool settled = true;
    if (w > 0) {
        double recent = 0.0, before = 0.0;
        for (std::size_t k = 0; k < w; ++k) {
            recent += means_[means_.size() - 1 - k];
            before += means_[means_.size() - 1 - w - k];
        }
        recent /= static_cast<double>(w);
        before /= static_cast<double>(w);
        settled = std::abs(recent - before) <= options_.settleChange * std::max(before, 16.0);
    }
    if (!settled) {
        settling_ += gathered_ + 1;  // the picture moved: what was gathered is dropped
        gathered_ = 0;
        lastSamples_.swap(i_);
        return;
    }
    if (gathered_ == 0) {
        values_.create(size_, CV_32F);
        values_.setTo(0.0);
        pairNoise_.clear();
    } else {
        pairNoise_.push_back(PairNoise(i_, lastSamples_, scratch_));
    }
    cv::accumulate(grey, values_);
    lastSamples_.swap(i_);
    if (++gathered_ < options_.backgroundFrames) {
        return;
    }
    values_ *= 1.0 / gathered_;
    std::vector<float> noises(pairNoise_.begin(), pairNoise_.end());
    // One frame gives no pair: a quiet sensor is assumed.
    noise_ = std::max(0.5, noises.empty() ? 2.0 : MedianInPlace(noises));
    threshold_ = options_.threshold > 0.0 ? options_.threshold : std::max(12.0, 7.0 * noise_);
    low_ = std::min(threshold_, std::max(0.5 * threshold_, 4.0 * noise_));
    learned_ = true;
    flags_.create(size_, CV_8U);
    flags_.setTo(0);
    gain_ = 1.0;
    offset_ = 0.0;
    totalGain_ = 1.0;
    totalOffset_ = 0.0;
    excluded_.assign(lastSamples_.size(), 0);
}

bool Background::FitGain(const cv::Mat& grey) {
    if (!options_.followGain) {
        return true;
    }
    b_.clear();
    i_.clear();
    std::size_t index = 0;
    for (int y = step_ / 2; y < size_.height; y += step_) {
        const unsigned char* g = grey.ptr(y);
        const float* v = values_.ptr<float>(y);
        for (int x = step_ / 2; x < size_.width; x += step_, ++index) {
            if (index < excluded_.size() && excluded_[index] != 0) {
                continue;
            }
            // Saturated and black pixels say nothing of the gain.
            if (v[x] >= 1.0f && v[x] <= 250.0f && g[x] >= 1 && g[x] <= 254) {
                b_.push_back(v[x]);
                i_.push_back(g[x]);
            }
        }
    }
    if (b_.size() < 64) {
        return !b_.empty();  // too little to fit: the last gain stays (nothing at all: a black frame)
    }
    double a = gain_;
    double b = offset_;
    std::size_t inliers = 0;
    r_.resize(b_.size());
    // The residuals' middle and spread, from every kSpreadStride-th of them:
    // enough to gate by, for a sixth of the counting.
    std::vector<float>& few = scratch_;
    for (int round = 0; round < 3; ++round) {
        few.clear();
        for (std::size_t k = 0; k < b_.size(); ++k) {
            r_[k] = static_cast<float>(i_[k] - (a * b_[k] + b));
        }
        for (std::size_t k = 0; k < b_.size(); k += kSpreadStride) {
            few.push_back(r_[k]);
        }
        const double middle = BinnedMedian(few, 0.0, counts_);
        const double spread = BinnedMedian(few, middle, counts_, true);
        const double gate = std::max({RobustLimit(3.0, spread), 3.0 * noise_, 2.0});
        // After a gain within the dead band: the offset alone.
        const bool offsetOnly = round == 2 && std::abs(a - 1.0) < kGainDeadBand;
        if (offsetOnly) {
            a = 1.0;
        }
        double n = 0, sb = 0, si = 0, sbb = 0, sbi = 0;
        for (std::size_t k = 0; k < b_.size(); ++k) {
            if (std::abs(r_[k] - middle) <= gate) {
                n += 1;
                sb += b_[k];
                si += i_[k];
                sbb += static_cast<double>(b_[k]) * b_[k];
                sbi += static_cast<double>(b_[k]) * i_[k];
            }
        }
        if (n < 32) {
            return false;
        }
        const double mb = sb / n;
        const double mi = si / n;
        const double varB = sbb / n - mb * mb;
        // A flat scene pins the offset, not the gain.
        if (varB >= 16.0 && !offsetOnly) {
            a = (sbi / n - mb * mi) / varB;
        }
        b = mi - a * mb;
        inliers = static_cast<std::size_t>(n);
    }
    if (!(a >= kLeastGain && a <= kMostGain) || !std::isfinite(b) ||
        static_cast<double>(inliers) < kLeastInliers * static_cast<double>(b_.size())) {
        return false;
    }
    gain_ = a;
    offset_ = b;
    return true;
}

Background::Step Background::Take(const cv::Mat& grey, cv::Mat& low, std::vector<unsigned char>& rows) {
    if (grey.size() != size_) {
        Start(grey.size());
    }
    if (!learned_) {
        Learn(grey);
        return Step::Learning;
    }
    if (!FitGain(grey)) {
        if (++lostInRow_ > kLostBeforeRelearning) {
            Start(size_);  // the scene itself changed: learn it again
            return Step::Learning;
        }
        return Step::Lost;
    }
    lostInRow_ = 0;
    low.create(size_, CV_8U);
    rows.assign(static_cast<std::size_t>(size_.height), 0);
    PassParams learning;
    learning.gain = static_cast<float>(gain_);
    learning.offset = static_cast<float>(offset_);
    learning.low = static_cast<float>(low_);
    learning.high = static_cast<float>(threshold_);
    learning.up = static_cast<float>(options_.adaptation);
    learning.down = static_cast<float>(options_.darkening);
    // After a storm the background learns nothing until one has passed.
    learning.learn = !stormy_;
    PassParams holding = learning;
    holding.learn = false;
    std::vector<std::pair<int, int>>& spans = spans_;
    for (int y = 0; y < size_.height; ++y) {
        // The row in stretches: where the last frame found something the
        // background only takes the gain; elsewhere it learns.
        spans.clear();
        for (const cv::Rect& r : covered_) {
            if (y >= r.y && y < r.y + r.height) {
                spans.emplace_back(r.x, r.x + r.width);
            }
        }
        std::sort(spans.begin(), spans.end());
        const unsigned char* g = grey.ptr(y);
        float* v = values_.ptr<float>(y);
        unsigned char* f = flags_.ptr(y);
        unsigned char* m = low.ptr(y);
        bool any = false;
        const auto pass = [&](int from, int to, const PassParams& p) {
            if (to > from) {
                any = PassSpan(g + from, v + from, f + from, m + from, static_cast<std::size_t>(to - from), p) || any;
            }
        };
        int x = 0;
        for (const auto& [x0, x1] : spans) {
            pass(x, x0, learning);
            pass(std::max(x, x0), x1, holding);
            x = std::max(x, x1);
        }
        pass(x, size_.width, learning);
        rows[static_cast<std::size_t>(y)] = any ? 1 : 0;
    }
    totalGain_ *= gain_;
    totalOffset_ = totalOffset_ * gain_ + offset_;
    gain_ = 1.0;
    offset_ = 0.0;
    return Step::Ready;
}

void Background::Found(const std::vector<cv::Rect>& covered, bool storm) {
    const cv::Rect frame(cv::Point(0, 0), size_);
    covered_.clear();
    for (const cv::Rect& r : covered) {
        const cv::Rect inside = r & frame;
        if (inside.area() > 0) {
            covered_.push_back(inside);
        }
    }
    stormy_ = storm;
    // The samples under what was found sit out the next gain fit.
    std::fill(excluded_.begin(), excluded_.end(), 0);
    const int first = step_ / 2;
    const int columns = (size_.width - first + step_ - 1) / step_;
    const auto sample = [&](int i) { return (i - first + step_ - 1) / step_; };  // the first sample at or after i
    for (const cv::Rect& r : covered_) {
        for (int row = sample(r.y); first + row * step_ < r.y + r.height; ++row) {
            for (int column = sample(r.x); first + column * step_ < r.x + r.width; ++column) {
                const auto index = static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                                   static_cast<std::size_t>(column);
                if (index < excluded_.size()) {
                    excluded_[index] = 1;
                }
            }
        }
    }
}

void Background::Relearn(const cv::Mat& grey, cv::Rect box, const cv::Mat& mask, bool still) {
    box &= cv::Rect(cv::Point(0, 0), size_);
    if (!learned_ || box.area() <= 0) {
        return;
    }
    const double inverse = 1.0 / gain_;
    for (int y = box.y; y < box.y + box.height; ++y) {
        const unsigned char* g = grey.ptr(y);
        const unsigned char* m = mask.empty() ? nullptr : mask.ptr(y - box.y);
        float* v = values_.ptr<float>(y);
        for (int x = box.x; x < box.x + box.width; ++x) {
            if (m == nullptr || m[x - box.x] != 0) {
                v[x] = static_cast<float>((g[x] - offset_) * inverse);
            }
        }
    }
    ++(still ? absorbed_ : relearned_);
}

void Background::Raise(cv::Rect box, double levels) {
    box &= cv::Rect(cv::Point(0, 0), size_);
    if (learned_ && box.area() > 0) {
        values_(box) += cv::Scalar(levels / gain_);
    }
}

BackgroundStatus Background::status() const noexcept {
    BackgroundStatus s;
    s.learned = learned_;
    s.noise = learned_ ? noise_ : 0.0;
    s.threshold = learned_ ? threshold_ : options_.threshold;
    s.minArea = minArea_;
    s.maxArea = maxArea_;
    s.gain = totalGain_ * gain_;
    s.offset = totalOffset_ * gain_ + offset_;
    s.settling = settling_;
    s.relearned = relearned_;
    s.absorbed = absorbed_;
    return s;
}

}  // namespace quarvel::detail
