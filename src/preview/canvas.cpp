#include "preview/canvas.h"

#include <algorithm>
#include <vector>

namespace quarvel::detail {

cv::Mat ViewGreyImage(const IplImage* source) noexcept {
    if (source == nullptr || source->imageData == nullptr || source->depth != IPL_DEPTH_8U ||
        source->nChannels != 1 || source->width <= 0 || source->height <= 0 || source->widthStep < source->width) {
        return cv::Mat();
    }
    // The header's own size must cover every row it claims (in 64 bits: the
    // int fields may be large enough to overflow in 32).
    const long long needed = static_cast<long long>(source->height - 1) * source->widthStep + source->width;
    if (source->imageSize < needed) {
        return cv::Mat();
    }
    return cv::Mat(source->height, source->width, CV_8UC1, source->imageData, static_cast<std::size_t>(source->widthStep));
}

cv::Mat PaintCanvas(const Model& model, const cv::Mat& source) {
    cv::Mat canvas;
    PaintCanvas(model, source, canvas);
    return canvas;
}

void PaintCanvas(const Model& model, const cv::Mat& source, cv::Mat& canvas) {
    canvas.create(kCanvasHeight, kCanvasWidth, CV_8UC1);
    canvas.setTo(0);
    if (source.empty() || source.type() != CV_8UC1) {
        return;
    }
    unsigned char* const pixels = canvas.ptr<unsigned char>();
    const std::size_t stride = canvas.step[0];
    ForEachPlacement(model, std::min(model.params().imageWidth, source.cols),
                     std::min(model.params().imageHeight, source.rows), [&](int cx, int cy, int x, int y) {
                         pixels[static_cast<std::size_t>(cy) * stride + static_cast<std::size_t>(cx)] =
                             source.ptr<unsigned char>(y)[x];
                     });
}

}  // namespace quarvel::detail
