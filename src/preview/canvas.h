#ifndef QUARVEL_SRC_PREVIEW_CANVAS_H
#define QUARVEL_SRC_PREVIEW_CANVAS_H

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include <opencv2/core/types_c.h>

#include <quarvel/model.h>
#include <quarvel/preview.h>

namespace quarvel::detail {

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
void ForEachPlacement(const Model& model, int width, int height, Place place) {
    if (width <= 0 || height <= 0) {
        return;
    }
    std::vector<cv::Point> column(static_cast<std::size_t>(height));
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            column[static_cast<std::size_t>(y)] = cv::Point(x, y);
        }
        model.CorrectPoints(column.data(), column.data(), column.size());
        for (int y = 0; y < height; ++y) {
            const cv::Point q = column[static_cast<std::size_t>(y)];
            if (q.x >= 0 && q.x < kCanvasWidth && q.y >= 0 && q.y < kCanvasHeight) {
                place(q.x, q.y, x, y);
            }
        }
    }
}

// Paints the source through the model's chain onto a fresh zeroed canvas:
// pixel (x, y) for x below min(imageWidth, source width) (outer loop) and y
// below min(imageHeight, source height) (inner loop) goes to
// model.CorrectPoint((x, y)) (computed through the batch path) when that
// lies on the canvas. A source that is not CV_8UC1 paints nothing. This is
// painting without a cache. The second form paints into `canvas`, reusing
// its memory when it already has the canvas's size and type.
cv::Mat PaintCanvas(const Model& model, const cv::Mat& source);
void PaintCanvas(const Model& model, const cv::Mat& source, cv::Mat& canvas);

}  // namespace quarvel::detail

#endif
