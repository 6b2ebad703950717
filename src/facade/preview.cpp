// The operator preview of the loaded calibration.

#include <quarvel/quarvel.h>

#include "facade/facade_state.h"
#include "preview/canvas.h"
#include "preview/paint_cache.h"
#include "preview/window.h"

void Quarvel::TestBarrelCorrect(const IplImage* source) {
    TestBarrelCorrect(quarvel::detail::ViewGreyImage(source));
}

cv::Mat Quarvel::RenderBarrel(const cv::Mat& source) const {
    return quarvel::detail::RenderForward(LoadedModel(), state ? state->previews.get() : nullptr, source);
}

cv::Mat Quarvel::RenderBarrelFilled(const cv::Mat& source) const {
    return quarvel::detail::RenderFilled(LoadedModel(), state ? state->previews.get() : nullptr, source);
}

void Quarvel::TestBarrelCorrect(const cv::Mat& source) {
    cv::Mat canvas = RenderBarrel(source);
    if (canvas.empty()) {
        return;  // the earlier canvas stays
    }
    // The previous canvas is released when the new one replaces it.
    barrelImage = canvas;
    quarvel::detail::ShowInWindow(quarvel::kPreviewWindowTitle, barrelImage);
}

cv::Mat Quarvel::GetBarrelImage() const {
    try {
        return barrelImage.clone();
    } catch (...) {
        return cv::Mat();
    }
}
