// The operator preview of the loaded calibration.

#include <quarvel/quarvel.h>

#include "preview/canvas.h"
#include "preview/window.h"

void Quarvel::TestBarrelCorrect(const IplImage* source) {
    TestBarrelCorrect(quarvel::detail::ViewGreyImage(source));
}

cv::Mat Quarvel::RenderBarrel(const cv::Mat& source) const {
    try {
        return quarvel::detail::PaintCanvas(*this, source, imageWidth, imageHeight);
    } catch (...) {
        return cv::Mat();  // only the canvas allocation can fail
    }
}

void Quarvel::TestBarrelCorrect(const cv::Mat& source) {
    cv::Mat canvas = RenderBarrel(source);
    if (canvas.empty()) {
        return;  // the earlier canvas stays
    }
    // The previous canvas is released when the new one replaces it.
    barrelImage = canvas;
    quarvel::detail::ShowInWindow(quarvel::detail::kPreviewWindow, barrelImage);
}

cv::Mat Quarvel::GetBarrelImage() const {
    try {
        return barrelImage.clone();
    } catch (...) {
        return cv::Mat();
    }
}
