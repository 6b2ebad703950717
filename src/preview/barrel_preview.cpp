// The operator preview of the loaded calibration.

#include <quarvel/quarvel.h>

#include "preview/canvas.h"
#include "preview/window.h"

void Quarvel::TestBarrelCorrect(const IplImage* source) {
    TestBarrelCorrect(quarvel::detail::ViewGreyImage(source));
}

void Quarvel::TestBarrelCorrect(const cv::Mat& source) {
    try {
        // The previous canvas is released when the new one replaces it.
        barrelImage = quarvel::detail::PaintCanvas(*this, source, imageWidth, imageHeight);
    } catch (...) {
        // Only the canvas allocation can fail; the earlier canvas stays.
        return;
    }
    quarvel::detail::ShowInWindow(quarvel::detail::kPreviewWindow, barrelImage);
}

cv::Mat Quarvel::GetBarrelImage() const {
    try {
        return barrelImage.clone();
    } catch (...) {
        return cv::Mat();
    }
}
