#include "preview/paint_cache.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <new>

#include <opencv2/imgproc.hpp>

#include "preview/canvas.h"

namespace quarvel::detail {

void PaintMap::Free::operator()(std::int32_t* p) const noexcept { std::free(p); }

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The map's memory, every entry -1 (no source pixel).
std::unique_ptr<std::int32_t[], PaintMap::Free> NewOffsets() {
    const std::size_t bytes = static_cast<std::size_t>(kCanvasWidth) * kCanvasHeight * sizeof(std::int32_t);
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    madvise(memory, rounded, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
    std::memset(memory, 0xFF, bytes);
    return std::unique_ptr<std::int32_t[], PaintMap::Free>(static_cast<std::int32_t*>(memory));
}

}  // namespace

namespace {

// The bits of everything the chain reads (NaN values compare as the same
// when their bits are).
std::vector<unsigned char> ChainKey(const Model& model) {
    const CalibrationParams& p = model.params();
    const Geometry& g = model.geometry();
    const float floats[] = {p.focalZ, g.centerX, g.centerY, g.scale, g.outCenterX, g.outCenterY};
    const int ints[] = {p.imageWidth, p.imageHeight};
    std::vector<unsigned char> key(sizeof floats + sizeof ints + sizeof p.matrix.val);
    unsigned char* at = key.data();
    std::memcpy(at, floats, sizeof floats);
    std::memcpy(at + sizeof floats, ints, sizeof ints);
    std::memcpy(at + sizeof floats + sizeof ints, p.matrix.val, sizeof p.matrix.val);
    if (model.hasLensStage()) {
        const LensStage& l = p.lens;
        std::vector<double> values = {static_cast<double>(l.form), l.centerX, l.centerY, l.focal, l.k[0], l.k[1],
                                      l.k[2], l.k[3], l.p[0], l.p[1], static_cast<double>(l.gridColumns),
                                      static_cast<double>(l.gridRows)};
        values.insert(values.end(), l.homography.val, l.homography.val + 9);
        for (const cv::Point2d& g : l.grid) {
            values.push_back(g.x);
            values.push_back(g.y);
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(values.data());
        key.insert(key.end(), bytes, bytes + values.size() * sizeof(double));
    }
    return key;
}

void FindRowSpans(PaintMap& map) {
    map.rowSpans.assign(kCanvasHeight, {0, 0});
    for (int r = 0; r < kCanvasHeight; ++r) {
        const std::int32_t* row = map.offsets.get() + static_cast<std::size_t>(r) * kCanvasWidth;
        int first = 0;
        while (first < kCanvasWidth && row[first] < 0) {
            ++first;
        }
        int end = kCanvasWidth;
        while (end > first && row[end - 1] < 0) {
            --end;
        }
        map.rowSpans[static_cast<std::size_t>(r)] = {first, end};
    }
}

}  // namespace

PaintMap BuildPaintMap(const Model& model, int sourceCols, int sourceRows, std::size_t sourceStep,
                       std::unique_ptr<std::int32_t[], PaintMap::Free> memory) {
    PaintMap map;
    map.sourceCols = sourceCols;
    map.sourceRows = sourceRows;
    map.sourceStep = sourceStep;
    if (memory) {
        std::memset(memory.get(), 0xFF, static_cast<std::size_t>(kCanvasWidth) * kCanvasHeight * sizeof(std::int32_t));
        map.offsets = std::move(memory);
    } else {
        map.offsets = NewOffsets();
    }
    std::int32_t* const offsets = map.offsets.get();
    ForEachPlacement(model, std::min(model.params().imageWidth, sourceCols), std::min(model.params().imageHeight, sourceRows),
                     [&](int cx, int cy, int x, int y) {
                         offsets[static_cast<std::size_t>(cy) * kCanvasWidth + static_cast<std::size_t>(cx)] =
                             static_cast<std::int32_t>(static_cast<std::size_t>(y) * sourceStep +
                                                       static_cast<std::size_t>(x));
                     });
    FindRowSpans(map);
    return map;
}

void Gather(const PaintMap& map, const cv::Mat& source, cv::Mat& canvas) {
    canvas.create(kCanvasHeight, kCanvasWidth, CV_8UC1);
    if (source.empty()) {
        canvas.setTo(0);
        return;
    }
    const unsigned char* const src = source.data;
    const std::int32_t* offsets = map.offsets.get();
    for (int r = 0; r < kCanvasHeight; ++r) {
        unsigned char* row = canvas.ptr<unsigned char>(r);
        const std::int32_t* o = offsets + static_cast<std::size_t>(r) * kCanvasWidth;
        const auto [first, end] = map.rowSpans[static_cast<std::size_t>(r)];
        std::memset(row, 0, static_cast<std::size_t>(first));
        std::memset(row + end, 0, static_cast<std::size_t>(kCanvasWidth - end));
        for (int c = first; c < end; ++c) {
            // Holes inside the span read as 0 without a branch: their
            // offset is -1, and the mask clears what is read from offset 0.
            const std::int32_t at = o[c];
            const unsigned char v = src[at < 0 ? 0 : at];
            row[c] = static_cast<unsigned char>(v & static_cast<unsigned char>(~(at >> 31)));
        }
    }
}

FillMap BuildFillMap(const Model& model, int sourceCols, int sourceRows) {
    FillMap fill;
    fill.sourceCols = sourceCols;
    fill.sourceRows = sourceRows;
    const int width = std::min(model.params().imageWidth, sourceCols);
    const int height = std::min(model.params().imageHeight, sourceRows);
    if (width <= 0 || height <= 0) {
        return fill;
    }
    // The picture's bounding box on the canvas: the source border through
    // the chain.
    double minX = kCanvasWidth;
    double minY = kCanvasHeight;
    double maxX = -1;
    double maxY = -1;
    const auto extend = [&](double x, double y) {
        const cv::Point2d d = model.CorrectPointSubpixel(cv::Point2d(x, y));
        if (std::isfinite(d.x) && std::isfinite(d.y)) {
            minX = std::min(minX, d.x);
            minY = std::min(minY, d.y);
            maxX = std::max(maxX, d.x);
            maxY = std::max(maxY, d.y);
        }
    };
    for (int x = 0; x < width; ++x) {
        extend(x, 0);
        extend(x, height - 1);
    }
    for (int y = 0; y < height; ++y) {
        extend(0, y);
        extend(width - 1, y);
    }
    const cv::Rect canvasRect(0, 0, kCanvasWidth, kCanvasHeight);
    fill.box = cv::Rect(cv::Point(static_cast<int>(std::floor(std::max(minX, -1.0))), static_cast<int>(std::floor(std::max(minY, -1.0)))),
                        cv::Point(static_cast<int>(std::ceil(std::min(maxX, 1e6))) + 2, static_cast<int>(std::ceil(std::min(maxY, 1e6))) + 2)) &
               canvasRect;
    if (fill.box.empty()) {
        return fill;
    }
    cv::Mat mapX(fill.box.height, fill.box.width, CV_32FC1);
    cv::Mat mapY(fill.box.height, fill.box.width, CV_32FC1);
    for (int r = 0; r < fill.box.height; ++r) {
        float* mx = mapX.ptr<float>(r);
        float* my = mapY.ptr<float>(r);
        for (int c = 0; c < fill.box.width; ++c) {
            const cv::Point2d s = model.InvertPoint(cv::Point2d(fill.box.x + c, fill.box.y + r));
            // Outside the source (or without an inverse) remap leaves 0.
            const bool inside = s.x >= -0.5 && s.y >= -0.5 && s.x <= width - 0.5 && s.y <= height - 0.5;
            mx[c] = inside ? static_cast<float>(s.x) : -10.0f;
            my[c] = inside ? static_cast<float>(s.y) : -10.0f;
        }
    }
    cv::convertMaps(mapX, mapY, fill.map1, fill.map2, CV_16SC2);
    return fill;
}

std::shared_ptr<const PaintMap> PaintCache::Forward(const Model& model, const cv::Mat& source) {
    const std::vector<unsigned char> key = ChainKey(model);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!forward_ || key != key_ || forward_->sourceCols != source.cols || forward_->sourceRows != source.rows ||
        forward_->sourceStep != source.step[0]) {
        fill_.reset();  // one map at a time
        Recycle();
        forward_ = std::make_shared<const PaintMap>(
            BuildPaintMap(model, source.cols, source.rows, source.step[0], std::move(spare_)));
        key_ = key;
    }
    return forward_;
}

std::shared_ptr<const FillMap> PaintCache::Fill(const Model& model, const cv::Mat& source) {
    const std::vector<unsigned char> key = ChainKey(model);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!fill_ || key != key_ || fill_->sourceCols != source.cols || fill_->sourceRows != source.rows) {
        forward_.reset();
        spare_.reset();
        fill_.reset();
        fill_ = std::make_shared<const FillMap>(BuildFillMap(model, source.cols, source.rows));
        key_ = key;
    }
    return fill_;
}

void PaintCache::Recycle() noexcept {
    // Only a map no caller still holds gives its memory back.
    if (forward_ && forward_.use_count() == 1) {
        spare_ = std::move(const_cast<PaintMap&>(*forward_).offsets);
    }
    forward_.reset();
}

void PaintCache::Clear() noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    Recycle();
    fill_.reset();
}

bool PaintCache::empty() const noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    return !forward_ && !fill_;
}

}  // namespace quarvel::detail
