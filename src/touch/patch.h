#ifndef QUARVEL_SRC_TOUCH_PATCH_H
#define QUARVEL_SRC_TOUCH_PATCH_H

// A small window of a frame around one set of marked pixels, with what the
// measurements take from it: each pixel's rise over the background (or
// over a local level), and whether it is the set's own, free (nothing
// marked: a blob's soft edge), or another set's.

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

struct Patch {
    enum Owner : std::uint8_t { kFree = 0, kOwn = 1, kOther = 2 };

    cv::Rect box;  // in the frame
    std::vector<float> rise;
    std::vector<std::uint8_t> owner;

    int width() const noexcept { return box.width; }
    int height() const noexcept { return box.height; }
    std::size_t At(int x, int y) const noexcept {  // patch coordinates
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(box.width) + static_cast<std::size_t>(x);
    }
    cv::Point2d Frame(double x, double y) const noexcept { return cv::Point2d(box.x + x, box.y + y); }
    // Whether a pixel may carry the set's light: its own or free.
    bool Ours(std::size_t i) const noexcept { return owner[i] != kOther; }
    void Reset(cv::Rect b) {
        box = b;
        rise.assign(static_cast<std::size_t>(b.area()), 0.0f);
        owner.assign(static_cast<std::size_t>(b.area()), kFree);
    }
};

}  // namespace quarvel::detail

#endif
