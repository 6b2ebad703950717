// Whether a calibration can be trusted over its camera image: the one
// diagnosis behind the fit's trust checks and the tool's check.

#include <quarvel/model.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/chain.h"
#include "numeric/arithmetic.h"

namespace quarvel {
namespace {

constexpr int kColumns = 24;  // the image grid the checks walk
constexpr int kRows = 16;

using detail::ShortestText;

std::string At(const cv::Point2d& p) {
    char text[64];
    std::snprintf(text, sizeof text, "camera (%g, %g)", p.x, p.y);
    return text;
}

double Cross(const cv::Point2d& a, const cv::Point2d& b) { return a.x * b.y - a.y * b.x; }

// The grid's points: columns and rows from the first pixel to the last.
std::vector<cv::Point2d> ImageGrid(int width, int height) {
    std::vector<cv::Point2d> grid;
    grid.reserve((kRows + 1) * (kColumns + 1));
    for (int r = 0; r <= kRows; ++r) {
        for (int c = 0; c <= kColumns; ++c) {
            grid.emplace_back((width - 1) * static_cast<double>(c) / kColumns,
                              (height - 1) * static_cast<double>(r) / kRows);
        }
    }
    return grid;
}

// Neighbouring grid points keep one orientation on the display.
bool Folds(const detail::Chain& chain, const std::vector<cv::Point2d>& grid) {
    std::vector<cv::Point2d> shown(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i) {
        shown[i] = detail::CorrectSubpixel(chain, grid[i]);
    }
    int sign = 0;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const auto at = [&](int rr, int cc) { return shown[static_cast<std::size_t>(rr * (kColumns + 1) + cc)]; };
            const cv::Point2d a = at(r, c);
            const cv::Point2d b = at(r, c + 1);
            const cv::Point2d d = at(r + 1, c);
            const cv::Point2d e = at(r + 1, c + 1);
            // Both triangles of the cell keep one orientation.
            for (const double area : {Cross(b - a, d - a), Cross(d - e, b - e)}) {
                const int s = area > 0 ? 1 : area < 0 ? -1 : 0;
                if (s == 0 || (sign != 0 && s != sign) || !std::isfinite(area)) {
                    return true;
                }
                sign = s;
            }
        }
    }
    return false;
}

}  // namespace

std::vector<Flaw> Diagnose(const Model& model) {
    const CalibrationParams& p = model.params();
    const Geometry& g = model.geometry();
    std::vector<Flaw> flaws;
    if (g.outcome == Geometry::Outcome::Stopped) {
        flaws.push_back({Flaw::Kind::FocalTooShort,
                         "focal value " + ShortestText(p.focalZ) + " is too short for a " + std::to_string(p.imageWidth) +
                             " x " + std::to_string(p.imageHeight) + " image (corner factor " +
                             ShortestText(g.cornerFactor) + " < 1): the set-up stops and nothing is fitted"});
        return flaws;
    }
    if (p.imageWidth <= 0 || p.imageHeight <= 0) {
        return flaws;  // no image to walk: the image size is the caller's to judge
    }
    const std::vector<cv::Point2d> grid = ImageGrid(p.imageWidth, p.imageHeight);
    const detail::Chain chain = detail::ChainOf(p.focalZ, g, p.matrix);
    // The points the matrix maps, and its w there as the chain forms it.
    double worst = 0.0;
    cv::Point2d worstAt;
    bool lost = false;
    cv::Point2d lostAt;
    for (const cv::Point2d& camera : grid) {
        const detail::FloatPoint b = detail::BarrelMapping(chain, camera.x, camera.y);
        if (!std::isfinite(b.x) || !std::isfinite(b.y)) {
            flaws.push_back({Flaw::Kind::NoFiniteBarrel,
                             "the barrel correction has no finite value at " + At(camera) +
                                 " (a focal value on the image's singular radius)"});
            return flaws;
        }
        const float w = detail::ProjectiveStep(p.matrix, b).w;
        if (!(w != 0.0f) && !lost) {  // zero or NaN
            lost = true;
            lostAt = camera;
        } else if (w < 0.0f && w < worst) {
            worst = w;
            worstAt = camera;
        }
    }
    if (lost) {
        flaws.push_back({Flaw::Kind::PointsLost,
                         "the matrix's w is not positive over the whole image (w = 0 at " + At(lostAt) +
                             "): points there are lost"});
    }
    if (worst < 0.0) {
        flaws.push_back({Flaw::Kind::PointsMirrored,
                         "the matrix's w is not positive over the whole image (w = " + ShortestText(static_cast<float>(worst)) + " at " +
                             At(worstAt) + "): points there are mirrored"});
    }
    if (flaws.empty() && Folds(chain, grid)) {
        flaws.push_back({Flaw::Kind::Folded,
                         "the fit folds the picture: neighbouring image points change their order on the display"});
    }
    return flaws;
}

}  // namespace quarvel
