// The operator preview of the loaded calibration.

#include <quarvel/quarvel.h>

#include <opencv2/imgproc.hpp>

#include "preview/canvas.h"
#include "preview/paint_cache.h"
#include "preview/window.h"

void Quarvel::TestBarrelCorrect(const IplImage* source) {
    TestBarrelCorrect(quarvel::detail::ViewGreyImage(source));
}

cv::Mat Quarvel::RenderBarrel(const cv::Mat& source) const {
    using namespace quarvel::detail;
    try {
        if (source.empty() || source.type() != CV_8UC1 || paintCache.get() == nullptr) {
            return PaintCanvas(*this, source, imageWidth, imageHeight);
        }
        const std::shared_ptr<const PaintMap> map = paintCache.get()->Forward(*this, imageWidth, imageHeight, source);
        cv::Mat canvas;
        Gather(*map, source, canvas);
        return canvas;
    } catch (...) {
        try {
            // Without memory for the map, paint directly.
            return PaintCanvas(*this, source, imageWidth, imageHeight);
        } catch (...) {
            return cv::Mat();
        }
    }
}

cv::Mat Quarvel::RenderBarrelFilled(const cv::Mat& source) const {
    using namespace quarvel::detail;
    try {
        cv::Mat canvas = cv::Mat::zeros(kCanvasHeight, kCanvasWidth, CV_8UC1);
        if (source.empty() || source.type() != CV_8UC1) {
            return canvas;
        }
        std::shared_ptr<const FillMap> fill;
        if (paintCache.get() != nullptr) {
            fill = paintCache.get()->Fill(*this, imageWidth, imageHeight, source);
        } else {
            fill = std::make_shared<const FillMap>(BuildFillMap(*this, imageWidth, imageHeight, source.cols, source.rows));
        }
        if (!fill->box.empty()) {
            cv::Mat region = canvas(fill->box);
            cv::remap(source, region, fill->map1, fill->map2, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
        }
        return canvas;
    } catch (...) {
        return cv::Mat();
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
