#ifndef QUARVEL_PREVIEW_H
#define QUARVEL_PREVIEW_H

// The operator preview of a calibration: a grey picture painted through
// the correction chain onto the 1680 x 1050 canvas the window "barrel"
// shows.
//
//   const quarvel::Preview preview(model);
//   cv::Mat canvas = preview.Render(grey);        // forward painting, as TestBarrelCorrect
//   cv::Mat filled = preview.RenderFilled(grey);  // the hole-free picture
//
// A Preview keeps, for each source layout it has painted, which source
// pixel wins each canvas pixel (7.1 MB), so later frames are only gathered.
// Several threads may render one Preview at once; copies share that cache.

#include <memory>

#include <opencv2/core.hpp>

#include <quarvel/export.h>
#include <quarvel/model.h>

namespace quarvel {

// The preview canvas, 8-bit one-channel, and the title of its window.
inline constexpr int kCanvasWidth = 1680;
inline constexpr int kCanvasHeight = 1050;
inline constexpr const char kPreviewWindowTitle[] = "barrel";

namespace detail {
class PaintCache;
}

class QUARVEL_EXPORT Preview {
public:
    explicit Preview(const Model& model);

    const Model& model() const noexcept { return model_; }

    // Paints every pixel of an 8-bit one-channel source (those that exist
    // in both the source and the calibration's image size) through
    // CorrectPoint onto a fresh canvas (kCanvasHeight rows x kCanvasWidth
    // columns, CV_8UC1): unreached pixels 0, and where several land on one
    // canvas pixel the last in x-then-y order wins. Another type paints a
    // blank canvas. Empty only when the canvas cannot be allocated.
    cv::Mat Render(const cv::Mat& source) const;

    // The hole-free picture: each canvas pixel sampled bilinearly
    // (cv::remap) where InvertPoint lands in the source; 0 outside it.
    cv::Mat RenderFilled(const cv::Mat& source) const;

private:
    Model model_;
    std::shared_ptr<detail::PaintCache> cache_;
};

}  // namespace quarvel

#endif
