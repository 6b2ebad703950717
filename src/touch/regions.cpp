// What the blob detector does with regions larger than a hand of fingers
// (a lamp switched on, a curtain, a resting palm): the fingertips that
// stand out of their local level, the regions followed from frame to frame
// and taken into the background, and where they were.

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "numeric/mean_shift.h"
#include "numeric/robust.h"
#include "touch/blob_detector.h"

namespace quarvel::detail {
namespace {

constexpr int kMargin = 2;
constexpr std::size_t kMostRegions = 32;

cv::Rect Grown(cv::Rect r, int by, cv::Size frame) {
    return (r + cv::Size(2 * by, 2 * by) - cv::Point(by, by)) & cv::Rect(cv::Point(0, 0), frame);
}

// The region's light at large: on cells of `cell` pixels, the median rise of
// the region's pixels in each (every other pixel each way; a fingertip
// covers too little of a cell to move it), spread between the cells'
// centres bilinearly, for the region's own pixels. Cells with too few of
// the region's pixels take the region's median.
void LocalLevel(const Patch& patch, int cell, std::vector<float>& level) {
    const int w = patch.width();
    const int h = patch.height();
    const int columns = (w + cell - 1) / cell;
    const int rows = (h + cell - 1) / cell;
    std::vector<float> medians(static_cast<std::size_t>(columns * rows), 0.0f);
    std::vector<bool> known(medians.size(), false);
    std::vector<float> values;
    std::vector<float> all;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            values.clear();
            for (int y = r * cell; y < std::min(h, (r + 1) * cell); y += 2) {
                for (int x = c * cell; x < std::min(w, (c + 1) * cell); x += 2) {
                    const std::size_t i = patch.At(x, y);
                    if (patch.owner[i] == Patch::kOwn) {
                        values.push_back(patch.rise[i]);
                    }
                }
            }
            all.insert(all.end(), values.begin(), values.end());
            if (16 * values.size() >= static_cast<std::size_t>(cell * cell)) {  // a quarter of the cell
                medians[static_cast<std::size_t>(r * columns + c)] = MedianInPlace(values);
                known[static_cast<std::size_t>(r * columns + c)] = true;
            }
        }
    }
    const float overall = MedianInPlace(all);
    for (std::size_t k = 0; k < medians.size(); ++k) {
        medians[k] = known[k] ? medians[k] : overall;
    }
    level.assign(patch.rise.size(), overall);
    for (int y = 0; y < h; ++y) {
        const double gy = std::clamp((y + 0.5) / cell - 0.5, 0.0, rows - 1.0);
        const int r0 = std::min(static_cast<int>(gy), rows - 1);
        const int r1 = std::min(r0 + 1, rows - 1);
        const double fy = gy - r0;
        for (int x = 0; x < w; ++x) {
            if (patch.owner[patch.At(x, y)] != Patch::kOwn) {
                continue;
            }
            const double gx = std::clamp((x + 0.5) / cell - 0.5, 0.0, columns - 1.0);
            const int c0 = std::min(static_cast<int>(gx), columns - 1);
            const int c1 = std::min(c0 + 1, columns - 1);
            const double fx = gx - c0;
            const auto m = [&](int r, int c) { return medians[static_cast<std::size_t>(r * columns + c)]; };
            level[patch.At(x, y)] = static_cast<float>((1 - fy) * ((1 - fx) * m(r0, c0) + fx * m(r0, c1)) +
                                                       fy * ((1 - fx) * m(r1, c0) + fx * m(r1, c1)));
        }
    }
}

}  // namespace

void BlobDetector::RegionFingertips(const cv::Mat& grey, Region& region, std::vector<Blob>& blobs) {
    // The region's own window: its pixels are its own, the rest another's.
    const cv::Rect& box = region.box;
    patch_.Reset(box);
    for (int y = 0; y < box.height; ++y) {
        const unsigned char* g = grey.ptr(box.y + y) + box.x;
        const float* v = background_.Row(box.y + y) + box.x;
        const unsigned char* m = region.mask.ptr(y);
        for (int x = 0; x < box.width; ++x) {
            const std::size_t i = patch_.At(x, y);
            patch_.rise[i] = static_cast<float>(g[x]) - v[x];
            patch_.owner[i] = m[x] != 0 ? Patch::kOwn : Patch::kOther;
        }
    }
    // Fingertips against the region's light around them, not against the
    // background: a lamp's light is taken off where it falls. Only the
    // sets of pixels that stand out of it by the threshold are looked at.
    std::vector<float>& level = level_;
    LocalLevel(patch_, std::max(8, static_cast<int>(std::lround(2.5 * background_.fingerDiameter()))), level);
    const double threshold = background_.threshold();
    high_.create(box.size(), CV_8U);
    for (int y = 0; y < box.height; ++y) {
        unsigned char* h = high_.ptr(y);
        for (int x = 0; x < box.width; ++x) {
            const std::size_t i = patch_.At(x, y);
            h[x] = patch_.owner[i] == Patch::kOwn && patch_.rise[i] - level[i] > threshold ? 255 : 0;
        }
    }
    highParts_.Label(high_, cv::Rect(cv::Point(0, 0), box.size()));
    for (std::size_t k = 0; k < highParts_.parts().size(); ++k) {
        const RunLabels::Part& part = highParts_.parts()[k];
        if (part.area < background_.minArea() || part.area > background_.maxArea()) {
            continue;  // a fragment, or more than a fingertip
        }
        StandingOut(region, Grown(part.box, kMargin, box.size()), level, blobs);
    }
}

void BlobDetector::StandingOut(Region& region, cv::Rect within, const std::vector<float>& level,
                               std::vector<Blob>& blobs) {
    // The set's own window, its light above the region's level.
    const cv::Rect& box = region.box;
    Patch above;
    above.Reset(within + box.tl());
    for (int y = 0; y < within.height; ++y) {
        for (int x = 0; x < within.width; ++x) {
            const std::size_t from = patch_.At(within.x + x, within.y + y);
            const std::size_t to = above.At(x, y);
            above.rise[to] = patch_.rise[from] - level[from];
            above.owner[to] = patch_.owner[from];
        }
    }
    PeakRules rules = Rules();
    rules.eachCore = true;
    const double base = 0.5 * background_.threshold();
    const double reach = background_.fingerDiameter();
    for (const Peak& p : peaks_.Find(above, rules)) {
        if (p.area < background_.minArea() || p.area > background_.maxArea()) {
            continue;
        }
        weights_.assign(above.rise.size(), 0.0f);
        cv::Rect own(cv::Point(static_cast<int>(p.at.x), static_cast<int>(p.at.y)), cv::Size(1, 1));
        for (int y = 0; y < above.height(); ++y) {
            for (int x = 0; x < above.width(); ++x) {
                const std::size_t i = above.At(x, y);
                const double w = above.rise[i] - base;
                if (w > 0.0 && above.owner[i] == Patch::kOwn && std::hypot(x - p.at.x, y - p.at.y) <= reach) {
                    weights_[i] = static_cast<float>(w);
                    own |= cv::Rect(x, y, 1, 1);
                }
            }
        }
        const cv::Point2d centre =
            MeanShift(weights_.data(), above.width(), above.height(), p.at, 0.6 * background_.fingerDiameter(), 3);
        Blob b;
        b.centre = above.Frame(centre.x, centre.y);
        b.area = p.area;
        b.box = Grown(own + above.box.tl(), kMargin, background_.size()) & box;
        blobs.push_back(b);
        region.peaks.push_back(b.box);
        double under = 0.0;
        for (int y = b.box.y; y < b.box.y + b.box.height; ++y) {
            for (int x = b.box.x; x < b.box.x + b.box.width; ++x) {
                under += level[patch_.At(x - box.x, y - box.y)];
            }
        }
        region.peakLevels.push_back(under / std::max(1, b.box.area()));
    }
}

void BlobDetector::FollowRegions(const cv::Mat& grey, std::vector<Region>& large) {
    if (storm_) {
        return;  // what a storm's specks join into says nothing of the scene
    }
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
            cv::Mat shared;
            cv::bitwise_and(r.mask(both - r.box.tl()), old.mask(both - old.box.tl()), shared);
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
            // Under the fingers that stand out of it, the region's level
            // there is taken in instead of the frame.
            for (std::size_t k = 0; k < r.peaks.size(); ++k) {
                background_.Raise(r.peaks[k] & grown, r.peakLevels[k]);
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

}  // namespace quarvel::detail
