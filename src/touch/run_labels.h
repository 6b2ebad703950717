#ifndef QUARVEL_SRC_TOUCH_RUN_LABELS_H
#define QUARVEL_SRC_TOUCH_RUN_LABELS_H

// The 8-connected sets of marked pixels of a mask, found from its runs
// (stretches of marked pixels along a row), joined where runs on
// neighbouring rows touch. Cheap for sparse masks, the thousands of
// specks of a storm included, and all on the calling thread.

#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

class RunLabels {
public:
    struct Part {
        int area = 0;  // pixels
        cv::Rect box;  // in the mask's coordinates
    };

    // Labels the non-zero pixels of `mask` (CV_8U) within `area`; with
    // `rows`, only the rows it marks non-zero are looked at.
    void Label(const cv::Mat& mask, cv::Rect area, const std::vector<unsigned char>* rows = nullptr);

    const std::vector<Part>& parts() const noexcept { return parts_; }

    // Sets to 255 the pixels of part `index` in `out`, a CV_8U image
    // covering `origin` onwards (what lies outside it is left out).
    void Paint(std::size_t index, cv::Mat& out, cv::Point origin) const;

    // Calls f(x, y) for each pixel of part `index`.
    template <typename F>
    void Each(std::size_t index, F&& f) const {
        for (int k = starts_[index]; k < starts_[index + 1]; ++k) {
            const Run& r = runs_[static_cast<std::size_t>(order_[static_cast<std::size_t>(k)])];
            for (int x = r.x0; x < r.x1; ++x) {
                f(x, r.y);
            }
        }
    }

private:
    struct Run {
        int y, x0, x1;  // [x0, x1) on row y
        int set;        // union-find parent, then the part
    };
    int Find(int i);

    std::vector<Run> runs_;
    std::vector<int> parent_;
    std::vector<Part> parts_;
    std::vector<int> order_;   // runs by part
    std::vector<int> starts_;  // where each part's runs begin in order_
};

}  // namespace quarvel::detail

#endif
