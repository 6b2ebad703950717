// Which decoded markers are where the board says: each marker against its
// neighbours on the board. A lens bends the board as a whole, so no single
// plane-to-plane mapping holds across a wide view; between neighbours it
// does, closely. A marker decoded in the wrong place (a stray code, a
// reflection, a misread id) lands far from where its neighbours put it.

#include "camera/marker_consistency.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "numeric/homography.h"

namespace quarvel::detail {
namespace {

// Neighbours on the board: markers whose centres lie within this many
// squares (the closest lie diagonally, 1.41 squares away).
constexpr double kNeighbourSquares = 2.1;
// A neighbour agrees when the marker's own mapping puts the neighbour's
// centre within this share of a square of where it was decoded.
constexpr double kAgreeSquares = 0.4;

struct Placed {
    cv::Point2d board;       // the marker's centre on the board, in squares
    cv::Point2d camera;      // its centre in the frame
    cv::Matx33d toCamera;    // its own board -> frame mapping, from its corners
    bool mapped = false;
};

}  // namespace

void KeepConsistentMarkers(const MarkerBoard& board, float square, FoundMarkers& markers) {
    const std::size_t n = markers.ids.size();
    if (n < 2 || !(square > 0)) {
        return;
    }
    std::vector<Placed> placed(n);
    for (std::size_t i = 0; i < n; ++i) {
        const auto at = std::find(board.ids().begin(), board.ids().end(), markers.ids[i]);
        if (at == board.ids().end()) {
            continue;
        }
        const auto& object = board.markerCorners()[static_cast<std::size_t>(at - board.ids().begin())];
        std::vector<cv::Point2f> from;
        cv::Point2d boardCentre(0, 0);
        cv::Point2d cameraCentre(0, 0);
        for (int k = 0; k < 4; ++k) {
            const cv::Point3f& o = object[static_cast<std::size_t>(k)];
            from.emplace_back(o.x / square, o.y / square);
            boardCentre += cv::Point2d(o.x, o.y) / (4.0 * square);
            cameraCentre += cv::Point2d(markers.corners[i][static_cast<std::size_t>(k)]) / 4.0;
        }
        placed[i].board = boardCentre;
        placed[i].camera = cameraCentre;
        const cv::Mat h = cv::getPerspectiveTransform(from, markers.corners[i]);
        if (!h.empty() && cv::checkRange(h)) {
            placed[i].toCamera = cv::Matx33d(h);
            placed[i].mapped = true;
        }
    }
    std::vector<bool> keep(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        if (!placed[i].mapped) {
            continue;
        }
        int neighbours = 0;
        int agree = 0;
        for (std::size_t j = 0; j < n; ++j) {
            if (j == i || !placed[j].mapped || cv::norm(placed[j].board - placed[i].board) > kNeighbourSquares) {
                continue;
            }
            ++neighbours;
            // Both ways: each marker's mapping places the other one. The
            // tolerance is in the frame's own scale at the marker.
            const double scaleI = cv::norm(ApplyHomography(placed[i].toCamera, placed[i].board + cv::Point2d(1, 0)) -
                                           placed[i].camera);
            const double scaleJ = cv::norm(ApplyHomography(placed[j].toCamera, placed[j].board + cv::Point2d(1, 0)) -
                                           placed[j].camera);
            const double fromI = cv::norm(ApplyHomography(placed[i].toCamera, placed[j].board) - placed[j].camera);
            const double fromJ = cv::norm(ApplyHomography(placed[j].toCamera, placed[i].board) - placed[i].camera);
            if (fromI <= kAgreeSquares * scaleI && fromJ <= kAgreeSquares * scaleJ) {
                ++agree;
            }
        }
        // Kept when most of its neighbours agree with it; a marker with no
        // neighbour found gives no corner and is left out.
        keep[i] = agree > 0 && 2 * agree >= neighbours;
    }
    FoundMarkers kept;
    kept.rejected = std::move(markers.rejected);
    for (std::size_t i = 0; i < n; ++i) {
        if (keep[i]) {
            kept.corners.push_back(markers.corners[i]);
            kept.ids.push_back(markers.ids[i]);
        }
    }
    markers = std::move(kept);
}

}  // namespace quarvel::detail
