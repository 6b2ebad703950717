// Finding a pattern in a camera frame: the markers say which square is
// which, the chessboard corners between them give the positions.

#include <quarvel/pattern.h>

#include <algorithm>
#include <cmath>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/board.h"
#include "camera/detector.h"
#include "camera/grey_frame.h"

namespace quarvel::detail {
namespace {

struct Found {
    std::vector<cv::Point2f> corners;  // camera positions
    std::vector<int> ids;              // chessboard corner numbers
    int markers = 0;
    int strayMarkers = 0;  // markers of the dictionary that are not this board's
};

// The board's markers that agree with one plane-to-plane mapping, within
// half a square (a lens bends the board far less): a marker decoded
// somewhere else (a stray code, a reflection) would put its corners wrong.
void KeepConsistentMarkers(const MarkerBoard& board, std::vector<std::vector<cv::Point2f>>& corners,
                           std::vector<int>& ids, double squareInCamera) {
    if (ids.size() < 4) {
        return;
    }
    std::vector<cv::Point2f> from;
    std::vector<cv::Point2f> to;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto at = std::find(board.ids().begin(), board.ids().end(), ids[i]);
        const auto& object = board.markerCorners()[static_cast<std::size_t>(at - board.ids().begin())];
        for (int k = 0; k < 4; ++k) {
            from.emplace_back(object[static_cast<std::size_t>(k)].x, object[static_cast<std::size_t>(k)].y);
            to.push_back(corners[i][static_cast<std::size_t>(k)]);
        }
    }
    cv::Mat inliers;
    const cv::Mat h = cv::findHomography(from, to, cv::RANSAC, std::max(2.0, 0.5 * squareInCamera), inliers, 2000, 0.999);
    if (h.empty()) {
        return;
    }
    std::vector<std::vector<cv::Point2f>> keptCorners;
    std::vector<int> keptIds;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        int good = 0;
        for (int k = 0; k < 4; ++k) {
            good += inliers.at<unsigned char>(static_cast<int>(4 * i) + k) != 0;
        }
        if (good >= 3) {
            keptCorners.push_back(corners[i]);
            keptIds.push_back(ids[i]);
        }
    }
    corners.swap(keptCorners);
    ids.swap(keptIds);
}

double MedianMarkerSide(const std::vector<std::vector<cv::Point2f>>& corners) {
    std::vector<double> sides;
    for (const auto& c : corners) {
        sides.push_back(0.25 * (cv::norm(c[0] - c[1]) + cv::norm(c[1] - c[2]) + cv::norm(c[2] - c[3]) +
                                cv::norm(c[3] - c[0])));
    }
    if (sides.empty()) {
        return 0.0;
    }
    std::nth_element(sides.begin(), sides.begin() + static_cast<std::ptrdiff_t>(sides.size() / 2), sides.end());
    return sides[sides.size() / 2];
}

Found DetectOnce(const cv::Mat& grey, const BoardLayout& layout, const MarkerBoard& board) {
    Found found;
    const FoundMarkers all = board.DetectMarkers(grey);
    // Only this board's markers.
    FoundMarkers ours;
    ours.rejected = all.rejected;
    for (std::size_t i = 0; i < all.ids.size(); ++i) {
        if (std::find(board.ids().begin(), board.ids().end(), all.ids[i]) != board.ids().end()) {
            ours.corners.push_back(all.corners[i]);
            ours.ids.push_back(all.ids[i]);
        } else {
            ++found.strayMarkers;
        }
    }
    if (ours.ids.empty()) {
        return found;
    }
    board.RefineMarkers(grey, ours);
    const double side = MedianMarkerSide(ours.corners);
    const double squareInCamera = side * layout.square / layout.marker;
    KeepConsistentMarkers(board, ours.corners, ours.ids, squareInCamera);
    found.markers = static_cast<int>(ours.ids.size());
    if (ours.ids.empty()) {
        return found;
    }
    std::vector<cv::Point2f> charuco;
    std::vector<int> charucoIds;
    board.InterpolateCorners(grey, ours, charuco, charucoIds);
    if (charuco.empty()) {
        return found;
    }
    // The final refinement, in a window that stays clear of the markers:
    // they begin 15 % of a square from each corner.
    const int window = std::clamp(static_cast<int>(std::lround(0.12 * squareInCamera)), 2, 12);
    std::vector<cv::Point2f> refined = charuco;
    cv::cornerSubPix(grey, refined, cv::Size(window, window), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 100, 1e-4));
    for (std::size_t i = 0; i < refined.size(); ++i) {
        // A corner the refinement carried away (an occluder's edge) is not
        // the board's.
        if (cv::norm(refined[i] - charuco[i]) <= std::max(1.0, 0.15 * squareInCamera)) {
            found.corners.push_back(refined[i]);
            found.ids.push_back(charucoIds[i]);
        }
    }
    return found;
}

}  // namespace

namespace {

// The area inside the outline of the pairs' display positions.
double OutlineArea(const std::vector<PointPair>& pairs) {
    if (pairs.size() < 3) {
        return 0.0;
    }
    std::vector<cv::Point2f> shown;
    for (const PointPair& p : pairs) {
        shown.emplace_back(static_cast<float>(p.display.x), static_cast<float>(p.display.y));
    }
    std::vector<cv::Point2f> hull;
    cv::convexHull(shown, hull);
    return cv::contourArea(hull);
}

}  // namespace

double Coverage(const std::vector<PointPair>& pairs, cv::Size display) {
    return display.area() > 0 ? OutlineArea(pairs) / static_cast<double>(display.area()) : 0.0;
}

double PatternCoverage(const std::vector<PointPair>& pairs, cv::Size display, PatternKind kind) {
    const BoardLayout layout = LayoutFor(display.width, display.height, kind);
    // The inner corners span all but the outer squares.
    const double inner = static_cast<double>(layout.columns - 2) * (layout.rows - 2) * layout.square * layout.square;
    return layout.valid() && inner > 0 ? std::min(1.0, OutlineArea(pairs) / inner) : 0.0;
}

PatternDetection Detect(const cv::Mat& frame, int displayWidth, int displayHeight, PatternKind kind,
                        bool mirroredFirst) {
    PatternDetection d;
    const BoardLayout layout = LayoutFor(displayWidth, displayHeight, kind);
    const std::shared_ptr<const MarkerBoard> board = BoardOf(layout);
    if (!board) {
        d.reason = "the display is too small for a pattern";
        return d;
    }
    const cv::Mat grey = GreyFrame(frame);
    if (grey.empty()) {
        d.reason = "the frame is not an 8-bit grey, BGR or BGRA image";
        return d;
    }
    // A camera behind the screen sees the pattern mirrored: its markers only
    // read in the mirror image. The orientation expected is tried first;
    // the other only when that finds too little.
    const auto inMirror = [&]() {
        cv::Mat flipped;
        cv::flip(grey, flipped, 1);
        Found f = DetectOnce(flipped, layout, *board);
        for (cv::Point2f& p : f.corners) {
            p.x = static_cast<float>(grey.cols - 1) - p.x;
        }
        return f;
    };
    Found found = mirroredFirst ? inMirror() : DetectOnce(grey, layout, *board);
    d.mirrored = mirroredFirst;
    const std::size_t enough = std::max<std::size_t>(8, board->chessboardCorners().size() / 4);
    if (found.corners.size() < enough) {
        Found other = mirroredFirst ? DetectOnce(grey, layout, *board) : inMirror();
        if (other.corners.size() > found.corners.size()) {
            found = std::move(other);
            d.mirrored = !mirroredFirst;
        }
    }
    d.markers = found.markers;
    for (std::size_t i = 0; i < found.corners.size(); ++i) {
        d.pairs.push_back({cv::Point2d(found.corners[i]), CornerOnDisplay(layout, *board, found.ids[i])});
        d.corners.push_back(found.ids[i]);
    }
    d.coverage = Coverage(d.pairs, cv::Size(displayWidth, displayHeight));
    d.patternCoverage = PatternCoverage(d.pairs, cv::Size(displayWidth, displayHeight), kind);
    d.ok = !d.pairs.empty();
    if (d.pairs.empty()) {
        d.mirrored = false;
        if (found.markers > 0) {
            d.reason = "the pattern's markers were found, but no corner between them";
        } else if (found.strayMarkers > 0) {
            d.reason = kind == PatternKind::Calibration ? "the frame shows markers, but not the calibration pattern's"
                                                        : "the frame shows markers, but not the validation pattern's";
        } else {
            d.reason = "the pattern is not in the frame (neither as shown nor mirrored)";
        }
    }
    return d;
}

}  // namespace quarvel::detail

namespace quarvel {

PatternDetection DetectCalibrationPattern(const cv::Mat& frame, int displayWidth, int displayHeight,
                                          PatternKind kind) {
    try {
        return detail::Detect(frame, displayWidth, displayHeight, kind);
    } catch (const std::exception& e) {
        PatternDetection d;
        d.reason = std::string("the frame could not be searched: ") + e.what();
        return d;
    } catch (...) {
        PatternDetection d;
        d.reason = "the frame could not be searched";
        return d;
    }
}

}  // namespace quarvel
