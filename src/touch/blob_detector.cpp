#include "touch/blob_detector.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "numeric/mean_shift.h"
#include "numeric/robust.h"

namespace quarvel::detail {
namespace {

// Pixels beside a blob that still carry its light (the finger's soft
// edge): they weigh into its centre and the background does not learn them.
constexpr int kMargin = 2;
// A set this elongated (the ratio of its spread along and across), or this
// many fingers' area above the threshold, may hold more than one fingertip.
constexpr double kElongated = 1.3;
constexpr double kSeveralFingers = 2.2;
// A group of fingertips landing together holds at most this many fingers'
// area in all.
constexpr double kGroupFingers = 4.0;
// Fingertips fill a good share of their set's bounding box, even three in
// a row; specks that touch sprawl.
constexpr double kLeastFill = 0.2;
// A fingertip in a region the background just took in stands out of it
// clearly: this many thresholds high.
constexpr double kClearFingertip = 2.0;

cv::Rect Grown(cv::Rect r, int by, cv::Size frame) {
    return (r + cv::Size(2 * by, 2 * by) - cv::Point(by, by)) & cv::Rect(cv::Point(0, 0), frame);
}

// Whether the patch's pixels for which `in(i)` holds contain a solid side x
// side square: a finger's light does, a cluster of specks that touch does not.
template <typename In>
bool SolidSquare(const Patch& patch, int side, std::vector<int>& runs, In&& in) {
    runs.assign(static_cast<std::size_t>(patch.width()), 0);
    for (int y = 0; y < patch.height(); ++y) {
        int across = 0;
        for (int x = 0; x < patch.width(); ++x) {
            across = in(patch.At(x, y)) ? across + 1 : 0;
            int& down = runs[static_cast<std::size_t>(x)];
            down = across >= side ? down + 1 : 0;
            if (down >= side) {
                return true;
            }
        }
    }
    return false;
}

// A side x side square minimum (erode) or maximum (dilate) of a small 0 / 1
// mask of w x h, in place; outside the mask counts as 0. (Written out:
// OpenCV's filters hand even a few pixels to its thread pool.)
void SquareFilter(std::vector<unsigned char>& mask, int w, int h, int side, bool maximum,
                  std::vector<unsigned char>& line) {
    if (side <= 1 || mask.empty()) {
        return;
    }
    const int before = (side - 1) / 2;
    const int after = side - 1 - before;
    const auto pass = [&](int count, int length, const auto& at) {
        line.resize(static_cast<std::size_t>(length));
        for (int i = 0; i < count; ++i) {
            for (int k = 0; k < length; ++k) {
                line[static_cast<std::size_t>(k)] = at(i, k);
            }
            for (int k = 0; k < length; ++k) {
                unsigned char v = maximum ? 0 : 1;
                for (int j = k - before; j <= k + after; ++j) {
                    const unsigned char u = j < 0 || j >= length ? 0 : line[static_cast<std::size_t>(j)];
                    v = maximum ? std::max(v, u) : std::min(v, u);
                }
                at(i, k) = v;
            }
        }
    };
    const auto cell = [&](int r, int c) -> unsigned char& { return mask[static_cast<std::size_t>(r) * w + c]; };
    pass(h, w, [&](int r, int c) -> unsigned char& { return cell(r, c); });
    pass(w, h, [&](int c, int r) -> unsigned char& { return cell(r, c); });
}

// The rise's elongation over the set's pixels above `level`: the square
// root of the ratio of the larger spread to the smaller.
double Elongation(const Patch& patch, double level) {
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int y = 0; y < patch.height(); ++y) {
        for (int x = 0; x < patch.width(); ++x) {
            const std::size_t i = patch.At(x, y);
            if (patch.owner[i] == Patch::kOwn && patch.rise[i] > level) {
                n += 1;
                sx += x;
                sy += y;
                sxx += static_cast<double>(x) * x;
                syy += static_cast<double>(y) * y;
                sxy += static_cast<double>(x) * y;
            }
        }
    }
    if (n < 2) {
        return 1.0;
    }
    const double cxx = sxx / n - (sx / n) * (sx / n);
    const double cyy = syy / n - (sy / n) * (sy / n);
    const double cxy = sxy / n - (sx / n) * (sy / n);
    const double middle = 0.5 * (cxx + cyy);
    const double reach = std::sqrt(0.25 * (cxx - cyy) * (cxx - cyy) + cxy * cxy);
    return std::sqrt((middle + reach) / std::max(middle - reach, 0.25));
}

}  // namespace

BlobDetector::BlobDetector(const BlobOptions& options) : background_(options) {}

PeakRules BlobDetector::Rules() const {
    PeakRules rules;
    const double threshold = background_.threshold();
    rules.height = threshold;
    // A saddle deeper than the noise of a 3 x 3 mean allows several times
    // over, and than a fingertip's own unevenness (a flattened top, a
    // camera's compression) does.
    rules.prominence = 0.5 * threshold;
    rules.share = 0.2;
    rules.separation = 0.5 * background_.fingerDiameter();
    rules.core = Core();
    return rules;
}

BlobDetector::Outcome BlobDetector::Detect(const cv::Mat& grey, std::vector<Blob>& blobs,
                                           const std::vector<cv::Point2d>& expected) {
    blobs.clear();
    storm_ = false;
    if (grey.size() != background_.size()) {
        regions_.clear();
        quiet_.clear();
    }
    ++frame_;
    switch (background_.Take(grey, low_, rows_)) {
        case Background::Step::Learning:
            regions_.clear();
            quiet_.clear();
            return Outcome::Learning;
        case Background::Step::Lost:
            return Outcome::Lost;
        case Background::Step::Ready:
            break;
    }
    covered_.clear();
    specks_ = 0;
    parts_.Label(low_, cv::Rect(cv::Point(0, 0), background_.size()), &rows_);
    std::vector<std::size_t> candidates;
    std::vector<Region> large;
    Sort(grey, expected, candidates, large);
    // In a storm of specks, what looks like a finger may be specks that
    // happen to touch: it starts nothing.
    storm_ = options().stormSpecks > 0 && specks_ > options().stormSpecks;
    // At most maxBlobs sets are weighed, the largest: a frame of thousands
    // of specks costs about what an ordinary one does.
    std::vector<std::size_t> order(candidates.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    const auto most = static_cast<std::size_t>(options().maxBlobs);
    if (order.size() > most) {
        std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(most), order.end(),
                         [&](std::size_t a, std::size_t b) { return candidateHigh_[a] > candidateHigh_[b]; });
        order.resize(most);
    }
    for (const std::size_t k : order) {
        Fingertips(candidates_[k], blobs);
    }
    for (Region& r : large) {
        RegionFingertips(grey, r, blobs);
    }
    FollowRegions(grey, large);
    quiet_.erase(std::remove_if(quiet_.begin(), quiet_.end(), [&](const Quiet& q) { return q.until < frame_; }),
                 quiet_.end());
    for (Blob& b : blobs) {
        b.quiet = storm_ || (b.quiet && InQuiet(b));
    }
    if (blobs.size() > most) {
        std::nth_element(blobs.begin(), blobs.begin() + static_cast<std::ptrdiff_t>(most), blobs.end(),
                         [](const Blob& a, const Blob& b) { return a.area > b.area; });
        blobs.resize(most);
    }
    // Where something was found, the next frame's background does not
    // learn; after a storm, it learns nothing.
    background_.Found(covered_, storm_);
    return Outcome::Detected;
}

bool BlobDetector::Reaches(const cv::Mat& grey, std::size_t part) const {
    const double threshold = background_.threshold();
    bool reaches = false;
    parts_.Each(part, [&](int x, int y) {
        reaches = reaches || grey.ptr(y)[x] > background_.Predict(x, y) + threshold;
    });
    return reaches;
}

void BlobDetector::Sort(const cv::Mat& grey, const std::vector<cv::Point2d>& expected,
                        std::vector<std::size_t>& candidates, std::vector<Region>& large) {
    // The specks first: past stormSpecks of them the frame is a storm, and
    // counting on would tell nothing more.
    const auto storm = [&] { return options().stormSpecks > 0 && specks_ > options().stormSpecks; };
    for (std::size_t i = 0; i < parts_.parts().size() && !storm(); ++i) {
        if (parts_.parts()[i].area < background_.minArea()) {
            // Too small even with its soft edge: a speck, when something in
            // it reaches the threshold (else the noise floor).
            specks_ += Reaches(grey, i) ? 1 : 0;
        }
    }
    // In a storm no contact starts: only what lies near a finger already
    // followed is looked at.
    const double near = 2.0 * background_.fingerDiameter();
    const auto nearExpected = [&](const cv::Rect& box) {
        const cv::Rect2d around(box.x - near, box.y - near, box.width + 2 * near, box.height + 2 * near);
        return std::any_of(expected.begin(), expected.end(), [&](const cv::Point2d& e) { return around.contains(e); });
    };
    for (std::size_t i = 0; i < parts_.parts().size(); ++i) {
        const RunLabels::Part& part = parts_.parts()[i];
        if (part.area < background_.minArea()) {
            continue;
        }
        if (storm() && !nearExpected(part.box)) {
            ++specks_;
            continue;
        }
        Classify(grey, i, expected, candidates, large);
    }
}

void BlobDetector::Classify(const cv::Mat& grey, std::size_t i, const std::vector<cv::Point2d>& expected,
                            std::vector<std::size_t>& candidates, std::vector<Region>& large) {
    const RunLabels::Part& part = parts_.parts()[i];
    const double threshold = background_.threshold();
    // Fingers followed until now that moved into it: fingers passing close
    // enough for their light to join, up to a finger each.
    int fingers = 0;
    for (const cv::Point2d& e : expected) {
        const cv::Point at(static_cast<int>(std::lround(e.x)), static_cast<int>(std::lround(e.y)));
        fingers += part.box.contains(at) && low_.at<unsigned char>(at) != 0 ? 1 : 0;
    }
    const bool merged = fingers >= 2 && part.area <= fingers * background_.maxArea();
    if (part.area <= background_.maxArea() && part.area < kLeastFill * part.box.area()) {
        ++specks_;  // a sprawl of specks that touch (rain, a sensor's glitch through JPEG)
        return;
    }
    if (part.area > background_.maxArea() && !merged && !Group(grey, i)) {
        Region r;
        r.box = part.box;
        r.mask = cv::Mat::zeros(part.box.size(), CV_8U);
        parts_.Paint(i, r.mask, part.box.tl());
        large.push_back(std::move(r));
        return;
    }
    // The pixels above the threshold itself, holding a finger's solid core:
    // else specks that touch, or a thin streak.
    if (candidates.size() == candidates_.size()) {
        candidates_.emplace_back();
    }
    Patch& patch = candidates_[candidates.size()];
    Fill(grey, i, kMargin, patch);
    int high = 0;
    for (std::size_t k = 0; k < patch.rise.size(); ++k) {
        high += patch.owner[k] == Patch::kOwn && patch.rise[k] > threshold ? 1 : 0;
    }
    const bool core = SolidSquare(patch, Core(), runs_, [&](std::size_t k) {
        return patch.owner[k] == Patch::kOwn && patch.rise[k] > threshold;
    });
    if (high < background_.minArea() || !core) {
        ++specks_;
        return;
    }
    if (candidateHigh_.size() <= candidates.size()) {
        candidateHigh_.resize(candidates.size() + 1);
    }
    candidateHigh_[candidates.size()] = high;
    candidates.push_back(i);
}

bool BlobDetector::Group(const cv::Mat& grey, std::size_t part) {
    // Fingertips landing together (three side by side) make one set larger
    // than a finger's worth, as a palm does; but each is a peak of its own,
    // and none holds more than a finger's worth of the set. A palm's light
    // has one broad top.
    const double area = parts_.parts()[part].area;
    if (area > kGroupFingers * background_.maxArea()) {
        return false;
    }
    Fill(grey, part, 0, patch_);
    const std::size_t peaks = peaks_.Find(patch_, Rules()).size();
    return peaks >= 2 && area <= static_cast<double>(peaks) * background_.maxArea();
}

void BlobDetector::Fill(const cv::Mat& grey, std::size_t part, int margin, Patch& patch) const {
    const RunLabels::Part& p = parts_.parts()[part];
    patch.Reset(Grown(p.box, margin, background_.size()));
    const cv::Rect& box = patch.box;
    for (int y = 0; y < box.height; ++y) {
        const unsigned char* g = grey.ptr(box.y + y) + box.x;
        const unsigned char* m = low_.ptr(box.y + y) + box.x;
        const float* v = background_.Row(box.y + y) + box.x;
        for (int x = 0; x < box.width; ++x) {
            const std::size_t i = patch.At(x, y);
            patch.rise[i] = static_cast<float>(g[x]) - v[x];  // the background's gain is 1 once a frame is taken
            patch.owner[i] = m[x] != 0 ? Patch::kOther : Patch::kFree;
        }
    }
    parts_.Each(part, [&](int x, int y) { patch.owner[patch.At(x - box.x, y - box.y)] = Patch::kOwn; });
}

void BlobDetector::Fingertips(const Patch& patch, std::vector<Blob>& blobs) {
    const double threshold = background_.threshold();
    const double finger = M_PI / 4.0 * background_.fingerDiameter() * background_.fingerDiameter();
    double high = 0.0;
    for (std::size_t k = 0; k < patch.rise.size(); ++k) {
        high += patch.owner[k] == Patch::kOwn && patch.rise[k] > threshold ? 1.0 : 0.0;
    }
    // Round and of one finger's size: one fingertip. Elongated or larger:
    // perhaps several side by side.
    std::vector<Peak> peaks;
    if (Elongation(patch, threshold) > kElongated || high > kSeveralFingers * finger) {
        peaks = peaks_.Find(patch, Rules());
    }
    covered_.push_back(patch.box);
    if (peaks.size() <= 1) {
        Measure(patch, high, blobs);
    } else {
        Apart(patch, peaks, blobs);
    }
}

void BlobDetector::Weights(const Patch& patch) {
    const double base = 0.5 * background_.threshold();
    weights_.assign(patch.rise.size(), 0.0f);
    for (std::size_t i = 0; i < patch.rise.size(); ++i) {
        if (patch.Ours(i)) {
            weights_[i] = static_cast<float>(std::max(0.0, patch.rise[i] - base));
        }
    }
}

void BlobDetector::Measure(const Patch& patch, double area, std::vector<Blob>& blobs) {
    Weights(patch);
    if (specks_ > 0) {
        // Specks about: the blob without what is narrower than a finger's
        // core (a speck that touches it), and its soft edge around that.
        std::vector<unsigned char> keep(patch.owner.size());
        for (std::size_t i = 0; i < keep.size(); ++i) {
            keep[i] = patch.owner[i] == Patch::kOwn ? 1 : 0;
        }
        const int core = Core();
        SquareFilter(keep, patch.width(), patch.height(), core, false, line_);  // opened: eroded ...
        SquareFilter(keep, patch.width(), patch.height(), core, true, line_);   // ... and dilated back
        SquareFilter(keep, patch.width(), patch.height(), 2 * kMargin + 1, true, line_);
        for (std::size_t i = 0; i < keep.size(); ++i) {
            weights_[i] = keep[i] != 0 ? weights_[i] : 0.0f;
        }
    }
    // Each pixel weighs by how far it rises above half the threshold, so a
    // blob's soft edge counts a little and the noise floor not at all; then
    // a few mean-shift steps with a window of a finger's size: what touches
    // the finger's edge (a speck, a neighbour's light) weighs little, and a
    // finger's light, even smeared along its motion, is symmetric about
    // where it is.
    double sum = 0.0, sx = 0.0, sy = 0.0;
    for (int y = 0; y < patch.height(); ++y) {
        for (int x = 0; x < patch.width(); ++x) {
            const float w = weights_[patch.At(x, y)];
            if (w > 0.0f) {
                sum += w;
                sx += w * x;
                sy += w * y;
            }
        }
    }
    if (!(sum > 0.0)) {
        return;
    }
    cv::Point2d centre = MeanShift(weights_.data(), patch.width(), patch.height(), cv::Point2d(sx / sum, sy / sum),
                                   0.6 * background_.fingerDiameter(), 3);
    if (storm_) {
        // Specks land beside and on the finger: it is measured again with a
        // narrower window, which they weigh less in.
        const double base = 0.5 * background_.threshold();
        for (std::size_t i = 0; i < weights_.size(); ++i) {
            weights_[i] = static_cast<float>(std::max(0.0, patch.rise[i] - base));
        }
        centre = MeanShift(weights_.data(), patch.width(), patch.height(), centre, 0.35 * background_.fingerDiameter(), 4);
    }
    Blob b;
    b.centre = patch.Frame(centre.x, centre.y);
    b.area = area;
    b.box = patch.box;
    float top = 0.0f;
    for (std::size_t i = 0; i < patch.rise.size(); ++i) {
        top = patch.owner[i] == Patch::kOwn ? std::max(top, patch.rise[i]) : top;
    }
    b.quiet = top < kClearFingertip * background_.threshold();  // (only where a region was just taken in)
    blobs.push_back(b);
}

void BlobDetector::Apart(const Patch& patch, const std::vector<Peak>& peaks, std::vector<Blob>& blobs) {
    weights_.assign(patch.rise.size(), 0.0f);
    for (std::size_t i = 0; i < patch.rise.size(); ++i) {
        weights_[i] = patch.Ours(i) ? std::max(0.0f, patch.rise[i]) : 0.0f;
    }
    std::vector<cv::Point2d> centres;
    for (const Peak& p : peaks) {
        centres.push_back(p.at);
    }
    const std::vector<Share> shares =
        deblender_.Apart(patch, weights_, centres, 0.5 * background_.threshold(), background_.threshold(),
                         0.6 * background_.fingerDiameter(), 6);
    for (std::size_t k = 0; k < shares.size(); ++k) {
        Blob b;
        b.centre = patch.Frame(shares[k].centre.x, shares[k].centre.y);
        b.area = shares[k].area;
        b.box = patch.box;
        b.quiet = peaks[k].height < kClearFingertip * background_.threshold();
        blobs.push_back(b);
    }
}

}  // namespace quarvel::detail
