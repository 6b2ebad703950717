#ifndef QUARVEL_SRC_PREVIEW_PAINT_CACHE_H
#define QUARVEL_SRC_PREVIEW_PAINT_CACHE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>

namespace quarvel::detail {

// Which source pixel each canvas pixel shows, for one calibration and one
// source layout: the byte offset into the source (row * step + column) of
// the pixel that wins there under the painting rule (x outer, y inner,
// last wins), or -1 where none lands. 1680 x 1050 x 4 bytes = 7.1 MB.
struct PaintMap {
    struct Free {
        void operator()(std::int32_t* p) const noexcept;
    };
    int sourceCols = 0;
    int sourceRows = 0;
    std::size_t sourceStep = 0;
    // kCanvasWidth x kCanvasHeight entries, in huge pages where the system
    // offers them: the map is written column by column, a new row (and
    // without huge pages a new page) with every source pixel.
    std::unique_ptr<std::int32_t[], Free> offsets;
    // For each canvas row, the columns [first, end) between its first and
    // last reached pixel; the gather leaves the rest 0 without reading.
    std::vector<std::pair<int, int>> rowSpans;
};

// The hole-free picture's map: for each canvas pixel of the picture's
// bounding box, where the inverse chain lands in the source, in
// cv::remap's fixed-point form (6 bytes a pixel).
struct FillMap {
    int sourceCols = 0;
    int sourceRows = 0;
    cv::Rect box;   // on the canvas
    cv::Mat map1;   // CV_16SC2
    cv::Mat map2;   // CV_16UC1
};

// Builds the forward map by running the chain over every source pixel
// (x below min(imageWidth, sourceCols), y below min(imageHeight,
// sourceRows)) through the batch path.
// `memory`, when given, is an earlier map's (reused rather than taken
// anew from the system, whose fresh pages cost more to touch than the
// chain costs to run).
PaintMap BuildPaintMap(const Model& model, int sourceCols, int sourceRows, std::size_t sourceStep,
                       std::unique_ptr<std::int32_t[], PaintMap::Free> memory = nullptr);

// The canvas the map paints from `source` (which has the map's layout).
void Gather(const PaintMap& map, const cv::Mat& source, cv::Mat& canvas);

// Builds the fill map: InvertPoint for every canvas pixel.
FillMap BuildFillMap(const Model& model, int sourceCols, int sourceRows);

// The maps a Preview (or a Quarvel instance) keeps: at most one at a time
// (the mode used last), for the calibration it was built from, guarded by
// its own mutex since const calls build it. Its memory is only taken when
// a preview is painted.
class PaintCache {
public:
    // The forward map for this calibration and source layout, built on
    // first use (a map of another calibration is replaced).
    std::shared_ptr<const PaintMap> Forward(const Model& model, const cv::Mat& source);
    std::shared_ptr<const FillMap> Fill(const Model& model, const cv::Mat& source);
    void Clear() noexcept;
    bool empty() const noexcept;

private:
    void Recycle() noexcept;  // with mutex_ held

    mutable std::mutex mutex_;
    // What the map was built for: the values the chain reads.
    std::vector<unsigned char> key_;
    std::shared_ptr<const PaintMap> forward_;
    // The memory of a map dropped by Clear, for the next one to reuse (the
    // instance holds at most one map's memory in all).
    std::unique_ptr<std::int32_t[], PaintMap::Free> spare_;
    std::shared_ptr<const FillMap> fill_;
};

// Painting with a cache (null: paint directly): the forward canvas and the
// hole-free one. Never throw; empty only where memory ran out.
cv::Mat RenderForward(const Model& model, PaintCache* cache, const cv::Mat& source) noexcept;
cv::Mat RenderFilled(const Model& model, PaintCache* cache, const cv::Mat& source) noexcept;

}  // namespace quarvel::detail

#endif
