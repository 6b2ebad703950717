// The preview of a model: painting through the cache.

#include <quarvel/preview.h>

#include <opencv2/imgproc.hpp>

#include "preview/canvas.h"
#include "preview/paint_cache.h"

namespace quarvel {
namespace detail {

cv::Mat RenderForward(const Model& model, PaintCache* cache, const cv::Mat& source) noexcept {
    try {
        if (source.empty() || source.type() != CV_8UC1 || cache == nullptr) {
            return PaintCanvas(model, source);
        }
        const std::shared_ptr<const PaintMap> map = cache->Forward(model, source);
        cv::Mat canvas;
        Gather(*map, source, canvas);
        return canvas;
    } catch (...) {
        try {
            // Without memory for the map, paint directly.
            return PaintCanvas(model, source);
        } catch (...) {
            return cv::Mat();
        }
    }
}

cv::Mat RenderFilled(const Model& model, PaintCache* cache, const cv::Mat& source) noexcept {
    try {
        cv::Mat canvas = cv::Mat::zeros(kCanvasHeight, kCanvasWidth, CV_8UC1);
        if (source.empty() || source.type() != CV_8UC1) {
            return canvas;
        }
        std::shared_ptr<const FillMap> fill;
        if (cache != nullptr) {
            fill = cache->Fill(model, source);
        } else {
            fill = std::make_shared<const FillMap>(BuildFillMap(model, source.cols, source.rows));
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

}  // namespace detail

Preview::Preview(const Model& model) : model_(model) {
    try {
        cache_ = std::make_shared<detail::PaintCache>();
    } catch (...) {
        cache_.reset();  // painted directly each time
    }
}

cv::Mat Preview::Render(const cv::Mat& source) const { return detail::RenderForward(model_, cache_.get(), source); }

cv::Mat Preview::RenderFilled(const cv::Mat& source) const {
    return detail::RenderFilled(model_, cache_.get(), source);
}

}  // namespace quarvel
