// Corners the markers alone do not give: those beside squares the
// display's edge cuts (no marker there), and those whose markers a strong
// lens or a poor view left unread. Each is predicted from the corners
// found around it, looked for there, and taken only when the frame shows a
// chessboard corner where it was predicted.

#include "camera/corner_growth.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <opencv2/imgproc.hpp>

namespace quarvel::detail {
namespace {

constexpr double kNearSquares = 2.6;      // corners a prediction is made from lie this close on the board
constexpr int kMinNear = 5;               // and there must be this many of them
constexpr double kAcceptSquares = 0.3;    // the corner found lies this close to the prediction
constexpr double kWideWindow = 0.3;       // the first refinement's half window, squares
constexpr double kSampleSquares = 0.1;    // the saddle test looks this far along the diagonals: inside the
                                          // white margin around a marker (0.15 of a square)
constexpr double kMinContrast = 12.0;     // grey levels between the black and the white squares
constexpr int kMaxWaves = 8;

struct Grid {
    int columns = 0;  // inner corners across
    int rows = 0;
};

// A quadratic in the board position, fitted to nearby corners by least
// squares: camera = f(u, v). Its value and its derivatives (per square).
struct Local {
    cv::Vec6d x;
    cv::Vec6d y;
    cv::Point2d At(double u, double v) const {
        const cv::Vec6d t(1, u, v, u * u, u * v, v * v);
        return cv::Point2d(x.dot(t), y.dot(t));
    }
    cv::Point2d DU(double u, double v) const {
        return cv::Point2d(x[1] + 2 * x[3] * u + x[4] * v, y[1] + 2 * y[3] * u + y[4] * v);
    }
    cv::Point2d DV(double u, double v) const {
        return cv::Point2d(x[2] + x[4] * u + 2 * x[5] * v, y[2] + y[4] * u + 2 * y[5] * v);
    }
};

// Fits the local quadratic about (u0, v0) (board squares) to the known
// corners nearby. Where they do not surround the point on both sides in
// both directions (an edge, a corner of the pattern), or are too few, an
// affine fit instead: a quadratic extrapolates badly. Returns how many
// corners it used (0: too few).
int FitLocal(const std::map<int, cv::Point2f>& known, const Grid& grid, double u0, double v0, Local& local) {
    std::vector<cv::Vec6d> rows;
    std::vector<cv::Point2d> values;
    int below[2] = {0, 0};
    int above[2] = {0, 0};
    for (const auto& [id, at] : known) {
        const double u = id % grid.columns - u0;
        const double v = id / grid.columns - v0;
        if (std::hypot(u, v) <= kNearSquares) {
            rows.emplace_back(1, u, v, u * u, u * v, v * v);
            values.emplace_back(at.x, at.y);
            below[0] += u < 0;
            above[0] += u > 0;
            below[1] += v < 0;
            above[1] += v > 0;
        }
    }
    if (static_cast<int>(rows.size()) < kMinNear) {
        return 0;
    }
    const bool surrounded = below[0] >= 2 && above[0] >= 2 && below[1] >= 2 && above[1] >= 2;
    const int terms = surrounded && rows.size() >= 9 ? 6 : 3;
    cv::Mat a(static_cast<int>(rows.size()), terms, CV_64F);
    cv::Mat bx(static_cast<int>(rows.size()), 1, CV_64F);
    cv::Mat by(static_cast<int>(rows.size()), 1, CV_64F);
    for (int i = 0; i < a.rows; ++i) {
        for (int j = 0; j < terms; ++j) {
            a.at<double>(i, j) = rows[static_cast<std::size_t>(i)][j];
        }
        bx.at<double>(i) = values[static_cast<std::size_t>(i)].x;
        by.at<double>(i) = values[static_cast<std::size_t>(i)].y;
    }
    cv::Mat sx;
    cv::Mat sy;
    if (!cv::solve(a, bx, sx, cv::DECOMP_SVD) || !cv::solve(a, by, sy, cv::DECOMP_SVD)) {
        return 0;
    }
    local = Local{};
    for (int j = 0; j < terms; ++j) {
        local.x[j] = sx.at<double>(j);
        local.y[j] = sy.at<double>(j);
    }
    // About (u0, v0): callers ask at offsets from it.
    return cv::checkRange(sx) && cv::checkRange(sy) ? static_cast<int>(rows.size()) : 0;
}

double Sample(const cv::Mat& grey, const cv::Point2d& p) {
    if (!(p.x >= 0 && p.y >= 0 && p.x <= grey.cols - 1.001 && p.y <= grey.rows - 1.001)) {
        return -1.0;
    }
    const int x = static_cast<int>(p.x);
    const int y = static_cast<int>(p.y);
    const double fx = p.x - x;
    const double fy = p.y - y;
    const auto g = [&](int xx, int yy) { return static_cast<double>(grey.at<unsigned char>(yy, xx)); };
    return (g(x, y) * (1 - fx) + g(x + 1, y) * fx) * (1 - fy) + (g(x, y + 1) * (1 - fx) + g(x + 1, y + 1) * fx) * fy;
}

// A chessboard corner at `p`: along one diagonal the same colour both
// ways, along the other the other colour, the two well apart.
bool LooksLikeACorner(const cv::Mat& grey, const cv::Point2d& p, const cv::Point2d& du, const cv::Point2d& dv) {
    const cv::Point2d a = (du + dv) * kSampleSquares;
    const cv::Point2d b = (du - dv) * kSampleSquares;
    const double s1 = Sample(grey, p + a);
    const double s2 = Sample(grey, p - a);
    const double s3 = Sample(grey, p + b);
    const double s4 = Sample(grey, p - b);
    if (s1 < 0 || s2 < 0 || s3 < 0 || s4 < 0) {
        return false;
    }
    const double contrast = std::abs((s1 + s2) / 2 - (s3 + s4) / 2);
    return contrast >= kMinContrast && std::abs(s1 - s2) < 0.5 * contrast && std::abs(s3 - s4) < 0.5 * contrast;
}

// The inner corners' lattice: numbered row by row, the first at (1, 1)
// squares. Empty when the board's corners are not such a lattice.
Grid GridOf(const MarkerBoard& board, float square) {
    Grid grid;
    for (const cv::Point3f& c : board.chessboardCorners()) {
        grid.columns = std::max(grid.columns, static_cast<int>(std::lround(c.x / square)));
    }
    grid.rows = static_cast<int>(board.chessboardCorners().size()) / std::max(1, grid.columns);
    if (grid.columns * grid.rows != static_cast<int>(board.chessboardCorners().size())) {
        return Grid{};
    }
    return grid;
}

}  // namespace

void RefineCorners(const cv::Mat& grey, const MarkerBoard& board, float square, double fallbackSide,
                   std::vector<cv::Point2f>& corners, std::vector<int>& ids) {
    const Grid grid = square > 0 ? GridOf(board, square) : Grid{};
    std::map<int, cv::Point2f> at;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        at[ids[i]] = corners[i];
    }
    std::vector<cv::Point2f> kept;
    std::vector<int> keptIds;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        double side = std::numeric_limits<double>::infinity();
        if (grid.columns > 0) {
            const int u = ids[i] % grid.columns;
            const int v = ids[i] / grid.columns;
            const int neighbours[4][2] = {{u - 1, v}, {u + 1, v}, {u, v - 1}, {u, v + 1}};
            for (const auto& n : neighbours) {
                if (n[0] >= 0 && n[1] >= 0 && n[0] < grid.columns && n[1] < grid.rows) {
                    const auto it = at.find(n[1] * grid.columns + n[0]);
                    if (it != at.end()) {
                        side = std::min(side, static_cast<double>(cv::norm(it->second - corners[i])));
                    }
                }
            }
        }
        if (!std::isfinite(side)) {
            side = fallbackSide;
        }
        // Clear of the markers: they begin 15 % of a square from each corner.
        const int window = std::clamp(static_cast<int>(std::lround(0.12 * side)), 2, 12);
        std::vector<cv::Point2f> refined = {corners[i]};
        cv::cornerSubPix(grey, refined, cv::Size(window, window), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 100, 1e-4));
        if (cv::norm(refined[0] - corners[i]) <= std::max(1.0, 0.15 * side)) {
            kept.push_back(refined[0]);
            keptIds.push_back(ids[i]);
        }
    }
    corners = std::move(kept);
    ids = std::move(keptIds);
}

int GrowCorners(const cv::Mat& grey, const MarkerBoard& board, float square, std::vector<cv::Point2f>& corners,
                std::vector<int>& ids) {
    if (corners.size() < static_cast<std::size_t>(kMinNear) || !(square > 0) || board.chessboardCorners().empty()) {
        return 0;
    }
    const Grid grid = GridOf(board, square);
    if (grid.columns == 0) {
        return 0;
    }
    std::map<int, cv::Point2f> known;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        known[ids[i]] = corners[i];
    }
    // Corners looked for and not found, with how many corners their
    // prediction came from: looked for again only from more.
    std::map<int, int> tried;
    int added = 0;
    for (int wave = 0; wave < kMaxWaves; ++wave) {
        std::vector<std::pair<int, cv::Point2f>> found;
        for (int id = 0; id < grid.columns * grid.rows; ++id) {
            if (known.count(id) != 0) {
                continue;
            }
            const int u = id % grid.columns;
            const int v = id / grid.columns;
            // Only next to a corner already known.
            bool beside = false;
            for (int dv = -1; dv <= 1 && !beside; ++dv) {
                for (int du = -1; du <= 1 && !beside; ++du) {
                    const int nu = u + du;
                    const int nv = v + dv;
                    beside = nu >= 0 && nv >= 0 && nu < grid.columns && nv < grid.rows &&
                             known.count(nv * grid.columns + nu) != 0;
                }
            }
            if (!beside) {
                continue;
            }
            Local local;
            const int from = FitLocal(known, grid, u, v, local);
            const auto before = tried.find(id);
            if (from == 0 || (before != tried.end() && before->second >= from)) {
                continue;
            }
            const cv::Point2d predicted = local.At(0, 0);
            const cv::Point2d du = local.DU(0, 0);
            const cv::Point2d dv = local.DV(0, 0);
            const double side = std::min(cv::norm(du), cv::norm(dv));
            if (!(side >= 4.0) || !(predicted.x >= 1 && predicted.y >= 1 && predicted.x <= grey.cols - 2 &&
                                    predicted.y <= grey.rows - 2)) {
                tried[id] = from;
                continue;
            }
            // A wide window first (a strong lens bends the board more than a
            // few squares' quadratic holds), then the narrow one the other
            // corners were refined in, clear of the markers.
            std::vector<cv::Point2f> refined = {cv::Point2f(static_cast<float>(predicted.x),
                                                            static_cast<float>(predicted.y))};
            const int wide = std::clamp(static_cast<int>(std::lround(kWideWindow * side)), 3, 30);
            cv::cornerSubPix(grey, refined, cv::Size(wide, wide), cv::Size(-1, -1),
                             cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 30, 1e-2));
            const int window = std::clamp(static_cast<int>(std::lround(0.12 * side)), 2, 12);
            cv::cornerSubPix(grey, refined, cv::Size(window, window), cv::Size(-1, -1),
                             cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 100, 1e-4));
            const cv::Point2d at(refined[0]);
            if (cv::norm(at - predicted) <= kAcceptSquares * side && LooksLikeACorner(grey, at, du, dv)) {
                found.emplace_back(id, refined[0]);
            } else {
                tried[id] = from;
            }
        }
        if (found.empty()) {
            break;
        }
        for (const auto& [id, at] : found) {
            known[id] = at;
            corners.push_back(at);
            ids.push_back(id);
            ++added;
        }
    }
    return added;
}

}  // namespace quarvel::detail
