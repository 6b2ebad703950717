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

cv::Mat PaintCanvas(const Quarvel& correction, const cv::Mat& source, int imageWidth, int imageHeight) {
    cv::Mat canvas = cv::Mat::zeros(kCanvasHeight, kCanvasWidth, CV_8UC1);
    if (source.empty() || source.type() != CV_8UC1) {
        return canvas;
    }
    const int width = std::min(imageWidth, source.cols);
    const int height = std::min(imageHeight, source.rows);
    if (width <= 0 || height <= 0) {
        return canvas;
    }
    // One source column at a time through the batch chain, then painted in
    // visiting order (x outer, y inner), so the last visited pixel wins.
    std::vector<CvPoint> column(static_cast<std::size_t>(height));
    unsigned char* const pixels = canvas.ptr<unsigned char>();
    const std::size_t stride = canvas.step[0];
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            column[static_cast<std::size_t>(y)] = cvPoint(x, y);
        }
        correction.CorrectPoints(column.data(), column.data(), column.size());
        for (int y = 0; y < height; ++y) {
            const CvPoint q = column[static_cast<std::size_t>(y)];
            if (q.x >= 0 && q.x < kCanvasWidth && q.y >= 0 && q.y < kCanvasHeight) {
                pixels[static_cast<std::size_t>(q.y) * stride + static_cast<std::size_t>(q.x)] =
                    source.ptr<unsigned char>(y)[x];
            }
        }
    }
    return canvas;
}

}  // namespace quarvel::detail
