#include "calibration/trust.h"

#include <cmath>

namespace quarvel::detail {
namespace {

constexpr int kColumns = 24;  // the image grid the checks walk
constexpr int kRows = 16;

std::vector<cv::Point2d> ImageGrid(const FitOptions& o) {
    std::vector<cv::Point2d> grid;
    for (int r = 0; r <= kRows; ++r) {
        for (int c = 0; c <= kColumns; ++c) {
            grid.emplace_back((o.imageWidth - 1) * static_cast<double>(c) / kColumns,
                              (o.imageHeight - 1) * static_cast<double>(r) / kRows);
        }
    }
    return grid;
}

double Cross(const cv::Point2d& a, const cv::Point2d& b) { return a.x * b.y - a.y * b.x; }

}  // namespace

bool SpansAPlane(const std::vector<cv::Point2d>& points, const std::vector<bool>& use) {
    double mx = 0;
    double my = 0;
    int n = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (use[i]) {
            mx += points[i].x;
            my += points[i].y;
            ++n;
        }
    }
    if (n < 3) {
        return false;
    }
    mx /= n;
    my /= n;
    double sxx = 0;
    double syy = 0;
    double sxy = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (use[i]) {
            const double dx = points[i].x - mx;
            const double dy = points[i].y - my;
            sxx += dx * dx;
            syy += dy * dy;
            sxy += dx * dy;
        }
    }
    // The smaller principal spread, in pixels: under half a pixel is a line.
    const double mean = (sxx + syy) / 2;
    const double root = std::sqrt(std::max(0.0, mean * mean - (sxx * syy - sxy * sxy)));
    const double smaller = (mean - root) / n;
    return std::sqrt(std::max(0.0, smaller)) > 0.5;
}

std::string Untrustworthy(ChainModel& model, const CalibrationParams& params) {
    const FitOptions& o = model.options();
    const std::vector<cv::Point2d> grid = ImageGrid(o);
    std::vector<cv::Point2d> barrel;
    CalibrationParams flat = params;
    flat.matrix = cv::Matx33f::eye();
    model.Correct(flat, grid, barrel);
    for (const cv::Point2d& b : barrel) {
        if (!std::isfinite(b.x) || !std::isfinite(b.y)) {
            return "the barrel correction has no finite value over the whole image";
        }
        if (!(ChainModel::Denominator(params.matrix, b) > 0.0)) {
            return "the matrix's w is not positive over the whole image (part of the picture would be mirrored or "
                   "lost)";
        }
    }
    std::vector<cv::Point2d> shown;
    model.Correct(params, grid, shown);
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
                    return "the fit folds the picture: neighbouring image points change their order on the display";
                }
                sign = s;
            }
        }
    }
    return {};
}

}  // namespace quarvel::detail
