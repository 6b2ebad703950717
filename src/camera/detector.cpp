// Finding a pattern in a camera frame: the markers say which square is
// which, the chessboard corners between them give the positions.

#include <quarvel/pattern.h>

#include <algorithm>
#include <cmath>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "base/grey_frame.h"
#include "camera/board.h"
#include "camera/corner_check.h"
#include "camera/corner_growth.h"
#include "camera/detector.h"
#include "camera/marker_consistency.h"
#include "numeric/robust.h"

namespace quarvel::detail {
namespace {

struct Found {
    std::vector<cv::Point2f> corners;  // camera positions
    std::vector<int> ids;              // chessboard corner numbers
    int markers = 0;
    int strayMarkers = 0;  // markers of the dictionary that are not this board's
    std::size_t board = 0;  // which of the candidate boards
};

// A board the frame may show: its layout and OpenCV's description.
struct Candidate {
    BoardLayout layout;
    std::shared_ptr<const MarkerBoard> board;
};

bool OnBoard(const MarkerBoard& board, int id) {
    return std::find(board.ids().begin(), board.ids().end(), id) != board.ids().end();
}

double MedianMarkerSide(const std::vector<std::vector<cv::Point2f>>& corners) {
    std::vector<double> sides;
    for (const auto& c : corners) {
        sides.push_back(0.25 * (cv::norm(c[0] - c[1]) + cv::norm(c[1] - c[2]) + cv::norm(c[2] - c[3]) +
                                cv::norm(c[3] - c[0])));
    }
    return MedianInPlace(sides);
}

// The corners of the board most of the frame's markers belong to.
Found DetectOnce(const cv::Mat& grey, const std::vector<Candidate>& candidates) {
    Found found;
    const FoundMarkers all = candidates.front().board->DetectMarkers(grey);  // one dictionary for every board
    std::size_t most = 0;
    for (std::size_t b = 0; b < candidates.size(); ++b) {
        const std::size_t count = static_cast<std::size_t>(std::count_if(
            all.ids.begin(), all.ids.end(), [&](int id) { return OnBoard(*candidates[b].board, id); }));
        if (count > most) {
            most = count;
            found.board = b;
        }
    }
    const BoardLayout& layout = candidates[found.board].layout;
    const MarkerBoard& board = *candidates[found.board].board;
    // Only this board's markers.
    FoundMarkers ours;
    ours.rejected = all.rejected;
    for (std::size_t i = 0; i < all.ids.size(); ++i) {
        if (OnBoard(board, all.ids[i])) {
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
    KeepConsistentMarkers(board, static_cast<float>(layout.square), ours);
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
    // The final refinement, each corner in a window of its own square's
    // size; then the corners around them that no marker gives: toward the
    // display's edges, and where markers went unread.
    RefineCorners(grey, board, static_cast<float>(layout.square), squareInCamera, charuco, charucoIds);
    found.corners = std::move(charuco);
    found.ids = std::move(charucoIds);
    GrowCorners(grey, board, static_cast<float>(layout.square), found.corners, found.ids);
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

double PatternCoverage(const std::vector<PointPair>& pairs, const BoardLayout& layout) {
    // The inner corners span all but the outer squares.
    const double inner = static_cast<double>(layout.columns - 2) * (layout.rows - 2) * layout.square * layout.square;
    return layout.valid() && inner > 0 ? std::min(1.0, OutlineArea(pairs) / inner) : 0.0;
}

double PatternCoverage(const std::vector<PointPair>& pairs, cv::Size display, PatternKind kind) {
    return PatternCoverage(pairs, LayoutFor(display.width, display.height, BoardsOf(kind).front()));
}

PatternDetection Detect(const cv::Mat& frame, int displayWidth, int displayHeight, PatternKind kind,
                        bool mirroredFirst) {
    PatternDetection d;
    std::vector<Candidate> candidates;
    for (const Board b : BoardsOf(kind)) {
        Candidate c;
        c.layout = LayoutFor(displayWidth, displayHeight, b);
        c.board = BoardOf(c.layout);
        if (c.board) {
            candidates.push_back(std::move(c));
        }
    }
    if (candidates.empty()) {
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
        Found f = DetectOnce(flipped, candidates);
        for (cv::Point2f& p : f.corners) {
            p.x = static_cast<float>(grey.cols - 1) - p.x;
        }
        return f;
    };
    Found found = mirroredFirst ? inMirror() : DetectOnce(grey, candidates);
    d.mirrored = mirroredFirst;
    const std::size_t enough = std::max<std::size_t>(8, candidates.front().board->chessboardCorners().size() / 4);
    if (found.corners.size() < enough) {
        Found other = mirroredFirst ? DetectOnce(grey, candidates) : inMirror();
        if (other.corners.size() > found.corners.size()) {
            found = std::move(other);
            d.mirrored = !mirroredFirst;
        }
    }
    d.markers = found.markers;
    const Candidate& seen = candidates[found.board];
    for (std::size_t i = 0; i < found.corners.size(); ++i) {
        d.pairs.push_back({cv::Point2d(found.corners[i]), CornerOnDisplay(seen.layout, *seen.board, found.ids[i])});
        d.corners.push_back(found.ids[i]);
    }
    DropStrayCorners(d.pairs, d.corners, grey.size(), cv::Size(displayWidth, displayHeight));
    d.coverage = Coverage(d.pairs, cv::Size(displayWidth, displayHeight));
    d.patternCoverage = PatternCoverage(d.pairs, seen.layout);
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
