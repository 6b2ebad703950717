#ifndef QUARVEL_SRC_PREVIEW_CANVAS_H
#define QUARVEL_SRC_PREVIEW_CANVAS_H

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/quarvel.h>

namespace quarvel::detail {

// The preview canvas: width x height, 8-bit, one channel.
inline constexpr int kCanvasWidth = 1680;
inline constexpr int kCanvasHeight = 1050;

// The title of the preview window.
inline constexpr const char* kPreviewWindow = "barrel";

// A view of an 8-bit one-channel image as a cv::Mat header over its pixel
// data (row stride preserved, region of interest ignored). Empty when the
// source is null, of another depth or channel count, or describes pixel data
// smaller than its own width, height and stride.
cv::Mat ViewGreyImage(const IplImage* source) noexcept;

// Runs the chain over source pixels (x below `width`, outer; y below
// `height`, inner) one column at a time through the batch path, and calls
// place(canvasX, canvasY, x, y) for each that lands on the canvas, in that
// visiting order: a later call for the same canvas pixel wins.
template <typename Place>
void ForEachPlacement(const Quarvel& correction, int width, int height, Place place) {
    if (width <= 0 || height <= 0) {
        return;
    }
    std::vector<CvPoint> column(static_cast<std::size_t>(height));
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            column[static_cast<std::size_t>(y)] = cvPoint(x, y);
        }
        correction.CorrectPoints(column.data(), column.data(), column.size());
        for (int y = 0; y < height; ++y) {
            const CvPoint q = column[static_cast<std::size_t>(y)];
            if (q.x >= 0 && q.x < kCanvasWidth && q.y >= 0 && q.y < kCanvasHeight) {
                place(q.x, q.y, x, y);
            }
        }
    }
}

// Paints the source through `correction`'s chain onto a fresh zeroed canvas:
// pixel (x, y) for x below min(imageWidth, source width) (outer loop) and y
// below min(imageHeight, source height) (inner loop) goes to
// correction.CorrectPoint((x, y)) (computed through the batch path) when
// that lies on the canvas. A source that is not CV_8UC1 paints nothing.
// This is the preview without its window, for hosts and benchmarks.
cv::Mat PaintCanvas(const Quarvel& correction, const cv::Mat& source, int imageWidth, int imageHeight);

}  // namespace quarvel::detail

#endif
