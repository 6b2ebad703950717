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
constexpr std::size_t kMostRegions = 32;

// Whether the set pixels of `mask` hold a solid side x side square: a
// finger's light does, a cluster of specks that touch does not.
bool HasCore(const cv::Mat& mask, int side, std::vector<int>& runs) {
    if (side <= 1) {
        return cv::countNonZero(mask) > 0;
    }
    // runs[x]: rows in a row, ending at this one, whose horizontal run of
    // set pixels ending at x is at least `side` long.
    runs.assign(static_cast<std::size_t>(mask.cols), 0);
    for (int y = 0; y < mask.rows; ++y) {
        const unsigned char* m = mask.ptr(y);
        int across = 0;
        for (int x = 0; x < mask.cols; ++x) {
            across = m[x] != 0 ? across + 1 : 0;
            int& down = runs[static_cast<std::size_t>(x)];
            down = across >= side ? down + 1 : 0;
            if (down >= side) {
                return true;
            }
        }
    }
    return false;
}

// A side x side square minimum (erode) or maximum (dilate) of a small 0 /
// 255 mask, in place; outside the mask counts as 0. (Written out: OpenCV's
// filters hand even a few pixels to its thread pool.)
void SquareFilter(cv::Mat& mask, int side, bool maximum, std::vector<unsigned char>& line) {
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
                unsigned char v = maximum ? 0 : 255;
                for (int j = k - before; j <= k + after; ++j) {
                    const unsigned char u = j < 0 || j >= length ? 0 : line[static_cast<std::size_t>(j)];
                    v = maximum ? std::max(v, u) : std::min(v, u);
                }
                at(i, k) = v;
            }
        }
    };
    pass(mask.rows, mask.cols, [&](int r, int c) -> unsigned char& { return mask.at<unsigned char>(r, c); });
    pass(mask.cols, mask.rows, [&](int c, int r) -> unsigned char& { return mask.at<unsigned char>(r, c); });
}

cv::Rect Grown(cv::Rect r, int by, cv::Size frame) {
    return (r + cv::Size(2 * by, 2 * by) - cv::Point(by, by)) & cv::Rect(cv::Point(0, 0), frame);
}

}  // namespace

BlobDetector::BlobDetector(const BlobOptions& options) : background_(options) {}

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
    std::vector<Region> large;
    Label(grey, blobs, large, expected);
    FollowRegions(grey, large);
    quiet_.erase(std::remove_if(quiet_.begin(), quiet_.end(), [&](const Quiet& q) { return q.until < frame_; }),
                 quiet_.end());
    // In a storm of specks, what looks like a finger may be specks that
    // happen to touch: it starts nothing.
    const bool storm = options().stormSpecks > 0 && specks_ > options().stormSpecks;
    storm_ = storm;
    if (storm) {
        // Specks land beside and on the fingers: each is measured again
        // with a narrower window, which they weigh less in.
        for (Blob& b : blobs) {
            b.centre = Narrowed(grey, b.box, b.centre, 0.35 * background_.fingerDiameter());
        }
    }
    for (Blob& b : blobs) {
        b.quiet = storm || InQuiet(b);
    }
    const auto most = static_cast<std::size_t>(options().maxBlobs);
    if (blobs.size() > most) {
        std::nth_element(blobs.begin(), blobs.begin() + static_cast<std::ptrdiff_t>(most), blobs.end(),
                         [](const Blob& a, const Blob& b) { return a.area > b.area; });
        blobs.resize(most);
    }
    // A storm says nothing about the background: it learns nothing from it.
    if (!storm) {
        background_.Adapt(grey, covered_);
    }
    return Outcome::Detected;
}

void BlobDetector::Label(const cv::Mat& grey, std::vector<Blob>& blobs, std::vector<Region>& large,
                         const std::vector<cv::Point2d>& expected) {
    low_parts_.Label(low_, cv::Rect(cv::Point(0, 0), background_.size()), &rows_);
    for (std::size_t i = 0; i < low_parts_.parts().size(); ++i) {
        Component(grey, i, blobs, large, expected);
    }
}

void BlobDetector::Component(const cv::Mat& grey, std::size_t index, std::vector<Blob>& blobs,
                             std::vector<Region>& large, const std::vector<cv::Point2d>& expected) {
    const RunLabels::Part& part = low_parts_.parts()[index];
    const double area = part.area;
    const cv::Rect box = part.box;
    const double threshold = background_.threshold();
    if (area < background_.minArea()) {
        // Too small even with its soft edge: a speck, when something in it
        // reaches the threshold (else the noise floor).
        bool reaches = false;
        low_parts_.Each(index, [&](int x, int y) {
            reaches = reaches || grey.ptr(y)[x] > background_.Predict(x, y) + threshold;
        });
        specks_ += reaches ? 1 : 0;
        return;
    }
    own_.create(box.size(), CV_8U);
    own_.setTo(0);
    low_parts_.Paint(index, own_, box.tl());
    // Fingers followed until now that moved into it: fingers passing close
    // enough for their light to join, up to a finger each.
    int fingers = 0;
    for (const cv::Point2d& e : expected) {
        const cv::Point at(static_cast<int>(std::lround(e.x)), static_cast<int>(std::lround(e.y)));
        fingers += box.contains(at) && own_.at<unsigned char>(at.y - box.y, at.x - box.x) != 0 ? 1 : 0;
    }
    const bool merged = fingers >= 2 && area <= fingers * background_.maxArea();
    if (area > background_.maxArea() && !merged) {
        Region r;
        r.box = box;
        r.mask = own_.clone();
        Peaks(grey, r, blobs);
        large.push_back(std::move(r));
        return;
    }
    // The pixels above the threshold itself: one finger, or several whose
    // soft edges touch.
    cv::Mat high(box.size(), CV_8U, cv::Scalar(0));
    double highArea = 0;
    for (int y = 0; y < box.height; ++y) {
        const unsigned char* g = grey.ptr(box.y + y) + box.x;
        const unsigned char* o = own_.ptr(y);
        unsigned char* h = high.ptr(y);
        for (int x = 0; x < box.width; ++x) {
            if (o[x] != 0 && g[x] > background_.Predict(box.x + x, box.y + y) + threshold) {
                h[x] = 255;
                highArea += 1;
            }
        }
    }
    if (highArea < background_.minArea() || !HasCore(high, Core(), runs_)) {
        ++specks_;  // specks that touch, or a thin streak
        return;
    }
    // Light enough for more than one finger: the parts above the threshold
    // may be fingers whose soft edges touch.
    std::vector<cv::Point2d> seeds;
    const double finger = M_PI / 4.0 * background_.fingerDiameter() * background_.fingerDiameter();
    if (highArea > 1.5 * finger) {
        high_parts_.Label(high, cv::Rect(0, 0, high.cols, high.rows));
        for (std::size_t p = 0; p < high_parts_.parts().size() && high_parts_.parts().size() > 1; ++p) {
            const RunLabels::Part& piece = high_parts_.parts()[p];
            if (piece.area < background_.minArea()) {
                continue;
            }
            cv::Mat alone(piece.box.size(), CV_8U, cv::Scalar(0));
            high_parts_.Paint(p, alone, piece.box.tl());
            if (!HasCore(alone, Core(), runs_)) {
                continue;
            }
            cv::Point2d sum;
            high_parts_.Each(p, [&](int x, int y) { sum += cv::Point2d(x, y); });
            seeds.push_back(cv::Point2d(box.x, box.y) + sum / static_cast<double>(piece.area));
        }
    }
    if (seeds.size() <= 1) {
        Measure(grey, own_, box, highArea, blobs);
        covered_.push_back(Grown(box, kMargin, background_.size()));
        return;
    }
    Blob whole;
    whole.box = Grown(box, kMargin, background_.size());
    for (Blob& b : Split(grey, whole, seeds)) {
        if (b.area >= background_.minArea()) {
            blobs.push_back(b);
        }
    }
    covered_.push_back(whole.box);
}

void BlobDetector::Measure(const cv::Mat& grey, const cv::Mat& own, cv::Rect box, double area,
                           std::vector<Blob>& blobs) {
    // The blob without what is narrower than a finger's core (a speck that
    // touches it), and its soft edge around that.
    const cv::Rect around = Grown(box, kMargin, background_.size());
    near_.create(around.size(), CV_8U);
    near_.setTo(0);
    own.copyTo(near_(box - around.tl()));
    const int core = Core();
    SquareFilter(near_, core, false, line_);  // opened: eroded ...
    SquareFilter(near_, core, true, line_);   // ... and dilated back
    SquareFilter(near_, 2 * kMargin + 1, true, line_);
    // Each pixel weighs by how far it rises above half the threshold, so a
    // blob's soft edge counts a little and the noise floor not at all.
    const double base = 0.5 * background_.threshold();
    weights_.clear();
    double sum = 0.0, sx = 0.0, sy = 0.0;
    for (int y = around.y; y < around.y + around.height; ++y) {
        const unsigned char* g = grey.ptr(y);
        const unsigned char* m = low_.ptr(y);
        const unsigned char* n = near_.ptr(y - around.y) - around.x;
        const bool inBox = y >= box.y && y < box.y + box.height;
        for (int x = around.x; x < around.x + around.width; ++x) {
            if (n[x] == 0) {
                continue;
            }
            if (m[x] != 0) {
                // Marked: this blob's own pixels only, not a neighbour's.
                if (!inBox || x < box.x || x >= box.x + box.width || own.at<unsigned char>(y - box.y, x - box.x) == 0) {
                    continue;
                }
            }
            const double w = (g[x] - background_.Predict(x, y)) - base;
            if (w > 0.0) {
                sum += w;
                sx += w * x;
                sy += w * y;
                weights_.push_back(cv::Point3d(x, y, w));
            }
        }
    }
    if (sum > 0.0) {
        // Then a few mean-shift steps with a window of a finger's size: what
        // touches the finger's edge (a speck, a neighbour's light) weighs
        // little, and a finger's light, even smeared along its motion, is
        // symmetric about where it is.
        Blob b;
        b.centre = MeanShift(weights_, cv::Point2d(sx / sum, sy / sum), 0.6 * background_.fingerDiameter(), 3);
        b.area = area;
        b.box = around;
        blobs.push_back(b);
    }
}

void BlobDetector::Peaks(const cv::Mat& grey, Region& region, std::vector<Blob>& blobs) {
    // What stands out of a large region by the threshold over its own
    // typical rise: a finger under a lamp. A palm's fingers do not stand
    // out of it.
    const cv::Rect& box = region.box;
    std::vector<float> rise;
    const int every = std::max(1, static_cast<int>(std::sqrt(box.area() / 4096.0)));
    for (int y = 0; y < box.height; y += every) {
        const unsigned char* g = grey.ptr(box.y + y) + box.x;
        const unsigned char* m = region.mask.ptr(y);
        for (int x = 0; x < box.width; x += every) {
            if (m[x] != 0) {
                rise.push_back(static_cast<float>(g[x] - background_.Predict(box.x + x, box.y + y)));
            }
        }
    }
    if (rise.empty()) {
        return;
    }
    const double typical = MedianInPlace(rise);
    region.typical = typical;
    const double threshold = background_.threshold();
    cv::Mat high(box.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < box.height; ++y) {
        const unsigned char* g = grey.ptr(box.y + y) + box.x;
        const unsigned char* m = region.mask.ptr(y);
        unsigned char* h = high.ptr(y);
        for (int x = 0; x < box.width; ++x) {
            if (m[x] != 0 && g[x] > background_.Predict(box.x + x, box.y + y) + typical + threshold) {
                h[x] = 255;
            }
        }
    }
    high_parts_.Label(high, cv::Rect(0, 0, high.cols, high.rows));
    for (std::size_t p = 0; p < high_parts_.parts().size(); ++p) {
        const RunLabels::Part& piece = high_parts_.parts()[p];
        const double area = piece.area;
        if (area < background_.minArea() || area > background_.maxArea()) {
            continue;
        }
        const cv::Rect own = piece.box + box.tl();
        cv::Mat alone(piece.box.size(), CV_8U, cv::Scalar(0));
        high_parts_.Paint(p, alone, piece.box.tl());
        if (!HasCore(alone, Core(), runs_)) {
            continue;
        }
        const cv::Rect around = Grown(own, kMargin, background_.size()) & box;
        double sum = 0.0, sx = 0.0, sy = 0.0;
        for (int y = around.y; y < around.y + around.height; ++y) {
            const unsigned char* g = grey.ptr(y);
            for (int x = around.x; x < around.x + around.width; ++x) {
                const double w = g[x] - background_.Predict(x, y) - typical - 0.5 * threshold;
                if (w > 0.0 && region.mask.at<unsigned char>(y - box.y, x - box.x) != 0) {
                    sum += w;
                    sx += w * x;
                    sy += w * y;
                }
            }
        }
        if (sum > 0.0) {
            Blob b;
            b.centre = cv::Point2d(sx / sum, sy / sum);
            b.area = area;
            b.box = around;
            blobs.push_back(b);
            region.peaks.push_back(around);
        }
    }
}

cv::Point2d BlobDetector::Narrowed(const cv::Mat& grey, cv::Rect box, cv::Point2d centre, double width) {
    box &= cv::Rect(cv::Point(0, 0), background_.size());
    const double base = 0.5 * background_.threshold();
    weights_.clear();
    for (int y = box.y; y < box.y + box.height; ++y) {
        const unsigned char* g = grey.ptr(y);
        for (int x = box.x; x < box.x + box.width; ++x) {
            const double rise = g[x] - background_.Predict(x, y) - base;
            if (rise > 0.0) {
                weights_.push_back(cv::Point3d(x, y, rise));
            }
        }
    }
    return MeanShift(weights_, centre, width, 4);
}

std::vector<Blob> BlobDetector::Split(const cv::Mat& grey, const Blob& blob, const std::vector<cv::Point2d>& seeds) const {
    std::vector<Blob> parts(seeds.size());
    if (seeds.empty()) {
        return parts;
    }
    const cv::Rect box = blob.box & cv::Rect(cv::Point(0, 0), background_.size());
    const double base = 0.5 * background_.threshold();
    const double threshold = background_.threshold();
    struct Pixel {
        double x, y, w;
        bool high;
    };
    std::vector<Pixel> pixels;
    for (int y = box.y; y < box.y + box.height; ++y) {
        const unsigned char* g = grey.ptr(y);
        for (int x = box.x; x < box.x + box.width; ++x) {
            const double rise = g[x] - background_.Predict(x, y);
            if (rise - base > 0.0) {
                pixels.push_back({static_cast<double>(x), static_cast<double>(y), rise - base, rise > threshold});
            }
        }
    }
    std::vector<cv::Point2d> centres = seeds;
    std::vector<std::size_t> owner(pixels.size(), 0);
    for (int round = 0; round < 5; ++round) {
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            double best = 1e300;
            for (std::size_t k = 0; k < centres.size(); ++k) {
                const double dx = pixels[i].x - centres[k].x;
                const double dy = pixels[i].y - centres[k].y;
                if (dx * dx + dy * dy < best) {
                    best = dx * dx + dy * dy;
                    owner[i] = k;
                }
            }
        }
        std::vector<cv::Point3d> sums(centres.size());
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            cv::Point3d& s = sums[owner[i]];
            s += cv::Point3d(pixels[i].w * pixels[i].x, pixels[i].w * pixels[i].y, pixels[i].w);
        }
        for (std::size_t k = 0; k < centres.size(); ++k) {
            if (sums[k].z > 0.0) {
                centres[k] = cv::Point2d(sums[k].x / sums[k].z, sums[k].y / sums[k].z);
            }
        }
    }
    for (std::size_t k = 0; k < parts.size(); ++k) {
        parts[k].centre = centres[k];
        parts[k].box = box;
        parts[k].quiet = blob.quiet;
    }
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        parts[owner[i]].area += pixels[i].high ? 1.0 : 0.0;
    }
    return parts;
}

void BlobDetector::FollowRegions(const cv::Mat& grey, std::vector<Region>& large) {
    const cv::Size size = background_.size();
    const int margin = kMargin + 1;
    std::vector<Region> kept;
    for (Region& r : large) {
        // The same region as one of the last frame's when they share a
        // quarter of the smaller one's pixels.
        for (const Region& old : regions_) {
            const cv::Rect both = r.box & old.box;
            if (both.area() <= 0) {
                continue;
            }
            const cv::Mat a = r.mask(both - r.box.tl());
            const cv::Mat b = old.mask(both - old.box.tl());
            cv::Mat shared;
            cv::bitwise_and(a, b, shared);
            const double common = cv::countNonZero(shared);
            if (common >= 0.25 * std::min(cv::countNonZero(r.mask), cv::countNonZero(old.mask))) {
                r.age = std::max(r.age, old.age);
            }
        }
        ++r.age;
        const cv::Rect grown = Grown(r.box, margin, size);
        cv::Mat mask(grown.size(), CV_8U, cv::Scalar(0));
        r.mask.copyTo(mask(r.box - grown.tl()));
        cv::dilate(mask, mask, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * margin + 1, 2 * margin + 1)));
        for (const cv::Rect& peak : r.peaks) {
            mask((peak & grown) - grown.tl()).setTo(0);  // a finger under a lamp stays a finger
        }
        if (r.age >= options().relearnFrames) {
            background_.Relearn(grey, grown, mask, false);
            // Under the fingers that stand out of it, the region's typical
            // rise is taken in instead of the frame.
            for (const cv::Rect& peak : r.peaks) {
                background_.Raise(peak & grown, r.typical);
            }
            if (options().quietFrames > 0) {
                quiet_.push_back({grown, mask, frame_ + options().quietFrames});
            }
        } else {
            covered_.push_back(grown);
            kept.push_back(std::move(r));
        }
    }
    if (kept.size() > kMostRegions) {
        std::nth_element(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(kMostRegions), kept.end(),
                         [](const Region& a, const Region& b) { return a.box.area() > b.box.area(); });
        kept.resize(kMostRegions);
    }
    regions_ = std::move(kept);
    if (quiet_.size() > kMostRegions) {
        quiet_.erase(quiet_.begin(), quiet_.end() - static_cast<std::ptrdiff_t>(kMostRegions));
    }
}

bool BlobDetector::InQuiet(const Blob& blob) const {
    const cv::Point at(static_cast<int>(std::lround(blob.centre.x)), static_cast<int>(std::lround(blob.centre.y)));
    for (const Quiet& q : quiet_) {
        if (q.box.contains(at) && q.mask.at<unsigned char>(at.y - q.box.y, at.x - q.box.x) != 0) {
            return true;
        }
    }
    return false;
}

void BlobDetector::Absorb(const cv::Mat& grey, cv::Rect box) {
    background_.Relearn(grey, Grown(box, kMargin, background_.size()), cv::Mat(), true);
}

}  // namespace quarvel::detail
