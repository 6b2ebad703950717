#include "support/wall_rig.h"

#include <cmath>
#include <limits>
#include <random>

#include <quarvel/calibration.h>
#include <quarvel/parameter_file.h>

namespace quarvel::test {

struct WallRig::Camera {
    cv::Rect2d tile;
    bool upright = false;
    LensTruth truth;
    Model calibration;
    std::unique_ptr<IrCamera> ir;

    // Display pixels to the tile's own coordinates, as the camera is turned.
    cv::Point2d Local(const cv::Point2d& display) const {
        const cv::Point2d d = display - tile.tl();
        return upright ? cv::Point2d(d.y, tile.width - d.x) : d;
    }
    cv::Point2d Display(const cv::Point2d& local) const {
        return tile.tl() + (upright ? cv::Point2d(tile.width - local.y, local.x) : local);
    }
};

namespace {

// Tile `i` of `n` along a side of `length`, neighbours overlapping by
// `overlap` of it: its start and length, whole pixels.
std::pair<int, int> Span(int i, int n, int length, double overlap) {
    if (n <= 1) {
        return {0, length};
    }
    const int size = static_cast<int>(std::lround(length * (1.0 + (n - 1) * overlap) / n));
    return {static_cast<int>(std::lround(static_cast<double>(i) * (length - size) / (n - 1))), size};
}

Lens LensOf(int camera) {
    switch (camera % 4) {
        case 0: return WebcamLens();
        case 1: return MixedSignsLens();
        case 2: return OffCentreLens();
        default: return TangentialLens();
    }
}

}  // namespace

WallRig::WallRig(const WallLayout& layout) : layout_(layout) {
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 0.03);  // a good measurement of a target, camera pixels
    for (int row = 0; row < layout.rows; ++row) {
        for (int column = 0; column < layout.columns; ++column) {
            const auto [x, width] = Span(column, layout.columns, layout.display.width, layout.overlap);
            const auto [y, height] = Span(row, layout.rows, layout.display.height,
                                          layout.overlap * layout.display.width / layout.display.height);
            const int k = static_cast<int>(cameras_.size());
            const cv::Size size = layout.upright ? cv::Size(height, width) : cv::Size(width, height);
            auto camera = std::make_unique<Camera>(Camera{cv::Rect2d(x, y, width, height), layout.upright,
                                                          LensTruth(LensOf(k), layout.camera, size), Model(), nullptr});
            // The pattern shown over the whole display; the camera measures
            // the targets it sees.
            std::vector<cv::Point2d> local;
            for (double y = 30; y < layout.display.height; y += 68) {
                for (double x = 30; x < layout.display.width; x += 68) {
                    const cv::Point2d l = camera->Local({x, y});
                    if (l.x >= 0 && l.y >= 0 && l.x <= size.width && l.y <= size.height) {
                        local.push_back(l);
                    }
                }
            }
            const std::vector<cv::Point2d> seen = camera->truth.CameraOf(local);
            std::vector<PointPair> pairs;
            for (std::size_t i = 0; i < local.size(); ++i) {
                const cv::Rect2d inside(4, 4, layout.camera.width - 9, layout.camera.height - 9);
                if (inside.contains(seen[i])) {
                    pairs.push_back({seen[i] + cv::Point2d(noise(random), noise(random)), camera->Display(local[i])});
                }
            }
            FitOptions options;
            options.imageWidth = layout.camera.width;
            options.imageHeight = layout.camera.height;
            options.displayWidth = layout.display.width;
            options.displayHeight = layout.display.height;
            const FitResult fit = FitCalibration(pairs, options);
            camera->calibration = Model(fit.params, layout.display);
            IrOptions ir = layout.ir;
            ir.seed = layout.ir.seed + 7919u * static_cast<unsigned>(k);
            camera->ir = std::make_unique<IrCamera>(camera->calibration, ir);
            cameras_.push_back(std::move(camera));
        }
    }
}

WallRig::~WallRig() = default;

const Model& WallRig::calibration(int camera) const { return cameras_[static_cast<std::size_t>(camera)]->calibration; }

cv::Rect2d WallRig::tile(int camera) const { return cameras_[static_cast<std::size_t>(camera)]->tile; }

cv::Point2d WallRig::CameraOf(int camera, const cv::Point2d& display) const {
    const Camera& c = *cameras_[static_cast<std::size_t>(camera)];
    const cv::Point2d local = c.Local(display);
    const cv::Size size = c.truth.display();
    // Beyond a tenth of the tile outside it the lens's polynomial is no
    // longer a lens (it may fold back into the picture).
    if (local.x < -0.1 * size.width || local.x > 1.1 * size.width || local.y < -0.1 * size.height ||
        local.y > 1.1 * size.height) {
        return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
    }
    return c.truth.CameraOf({local})[0];
}

std::function<cv::Point2d(const cv::Point2d&)> WallRig::DisplayOf(int camera) const {
    const Camera* c = cameras_[static_cast<std::size_t>(camera)].get();
    const cv::Size display = layout_.display;
    return [c, display, local = c->truth.Mapping()](const cv::Point2d& p) {
        const cv::Point2d d = c->Display(local(p));
        const bool on = d.x >= -0.5 && d.y >= -0.5 && d.x <= display.width - 0.5 && d.y <= display.height - 0.5;
        return on ? d : cv::Point2d(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
    };
}

cv::Mat WallRig::Render(int camera, int frame, const std::vector<cv::Point2d>& fingers) {
    std::vector<cv::Point2d> seen;
    for (const cv::Point2d& f : fingers) {
        const cv::Point2d at = CameraOf(camera, f);
        if (std::isfinite(at.x)) {
            seen.push_back(at);
        }
    }
    return cameras_[static_cast<std::size_t>(camera)]->ir->RenderAt(frame, seen);
}

bool WallRig::WriteParams(int camera, const std::string& path) const {
    return WriteParameterFile(path, calibration(camera).params()).ok;
}

}  // namespace quarvel::test
