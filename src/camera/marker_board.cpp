#include "camera/marker_board.h"

#include <opencv2/core/version.hpp>

#if CV_VERSION_MAJOR > 4 || (CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR >= 7)
#define QUARVEL_ARUCO_DETECTOR_CLASSES 1
#include <opencv2/objdetect/aruco_detector.hpp>
#include <opencv2/objdetect/charuco_detector.hpp>
#else
#define QUARVEL_ARUCO_DETECTOR_CLASSES 0
#include <opencv2/aruco.hpp>
#include <opencv2/aruco/charuco.hpp>
#endif

namespace quarvel::detail {
namespace {

// 4 x 4 markers: the first 250 are those of the 250-marker dictionary (the
// validation board and the calibration board of earlier releases use
// them), the calibration board takes the rest.
constexpr auto kDictionary = cv::aruco::DICT_4X4_1000;
// Looking again for markers the board predicts: how close a candidate must
// lie to the prediction (pixels), and how many bit errors it may carry
// relative to the dictionary's correction capacity.
constexpr float kRefineDistance = 10.0f;
constexpr float kRefineErrorRate = 3.0f;
// A chessboard corner needs this many markers beside it.
constexpr int kMarkersPerCorner = 2;

// Projected markers are large and soft: wider thresholding windows, and
// the marker corners are only a first guess (the chessboard corners are
// refined instead).
template <typename Parameters>
void Tune(Parameters& p) {
    p.adaptiveThreshWinSizeMin = 5;
    p.adaptiveThreshWinSizeMax = 45;
    p.adaptiveThreshWinSizeStep = 8;
    p.cornerRefinementMethod = cv::aruco::CORNER_REFINE_NONE;
}

}  // namespace

#if QUARVEL_ARUCO_DETECTOR_CLASSES

struct MarkerBoard::Impl {
    Impl(const cv::aruco::CharucoBoard& b, const cv::aruco::DetectorParameters& p)
        : board(b),
          markers(b.getDictionary(), p, cv::aruco::RefineParameters(kRefineDistance, kRefineErrorRate, true)),
          corners(b, Charuco(), p) {}

    static cv::aruco::CharucoParameters Charuco() {
        cv::aruco::CharucoParameters c;
        c.minMarkers = kMarkersPerCorner;
        return c;
    }

    cv::aruco::CharucoBoard board;
    cv::aruco::ArucoDetector markers;
    cv::aruco::CharucoDetector corners;
};

MarkerBoard::MarkerBoard(int columns, int rows, float square, float marker, int firstId) {
    const cv::aruco::Dictionary dictionary = cv::aruco::getPredefinedDictionary(kDictionary);
    const cv::Size size(columns, rows);
    // The board numbers its markers from 0; ours start at firstId.
    std::vector<int> ids = cv::aruco::CharucoBoard(size, square, marker, dictionary).getIds();
    for (int& id : ids) {
        id += firstId;
    }
    const cv::aruco::CharucoBoard board(size, square, marker, dictionary, ids);
    cv::aruco::DetectorParameters parameters;
    Tune(parameters);
    impl_ = std::make_shared<const Impl>(board, parameters);
    ids_ = board.getIds();
    markerCorners_ = board.getObjPoints();
    chessboardCorners_ = board.getChessboardCorners();
}

cv::Mat MarkerBoard::DrawMarker(int id, int side) const {
    cv::Mat picture;
    cv::aruco::generateImageMarker(impl_->board.getDictionary(), id, side, picture, 1);
    return picture;
}

FoundMarkers MarkerBoard::DetectMarkers(const cv::Mat& grey) const {
    FoundMarkers found;
    impl_->markers.detectMarkers(grey, found.corners, found.ids, found.rejected);
    return found;
}

void MarkerBoard::RefineMarkers(const cv::Mat& grey, FoundMarkers& markers) const {
    impl_->markers.refineDetectedMarkers(grey, impl_->board, markers.corners, markers.ids, markers.rejected);
}

void MarkerBoard::InterpolateCorners(const cv::Mat& grey, const FoundMarkers& markers,
                                     std::vector<cv::Point2f>& corners, std::vector<int>& cornerIds) const {
    std::vector<std::vector<cv::Point2f>> markerCorners = markers.corners;
    std::vector<int> markerIds = markers.ids;
    corners.clear();
    cornerIds.clear();
    impl_->corners.detectBoard(grey, corners, cornerIds, markerCorners, markerIds);
}

#else

struct MarkerBoard::Impl {
    cv::Ptr<cv::aruco::CharucoBoard> board;
    cv::Ptr<cv::aruco::DetectorParameters> parameters;
};

MarkerBoard::MarkerBoard(int columns, int rows, float square, float marker, int firstId) {
    auto impl = std::make_shared<Impl>();
    impl->board = cv::aruco::CharucoBoard::create(columns, rows, square, marker,
                                                  cv::aruco::getPredefinedDictionary(kDictionary));
    for (int& id : impl->board->ids) {
        id += firstId;
    }
    impl->parameters = cv::aruco::DetectorParameters::create();
    Tune(*impl->parameters);
    ids_ = impl->board->ids;
    markerCorners_ = impl->board->objPoints;
    chessboardCorners_ = impl->board->chessboardCorners;
    impl_ = std::move(impl);
}

cv::Mat MarkerBoard::DrawMarker(int id, int side) const {
    cv::Mat picture;
    cv::aruco::drawMarker(impl_->board->dictionary, id, side, picture, 1);
    return picture;
}

FoundMarkers MarkerBoard::DetectMarkers(const cv::Mat& grey) const {
    FoundMarkers found;
    cv::aruco::detectMarkers(grey, impl_->board->dictionary, found.corners, found.ids, impl_->parameters,
                             found.rejected);
    return found;
}

void MarkerBoard::RefineMarkers(const cv::Mat& grey, FoundMarkers& markers) const {
    // refineDetectedMarkers takes the board as a pointer to its base class.
    const cv::Ptr<cv::aruco::Board> board = impl_->board;
    cv::aruco::refineDetectedMarkers(grey, board, markers.corners, markers.ids, markers.rejected, cv::noArray(),
                                     cv::noArray(), kRefineDistance, kRefineErrorRate, true, cv::noArray(),
                                     impl_->parameters);
}

void MarkerBoard::InterpolateCorners(const cv::Mat& grey, const FoundMarkers& markers,
                                     std::vector<cv::Point2f>& corners, std::vector<int>& cornerIds) const {
    corners.clear();
    cornerIds.clear();
    cv::aruco::interpolateCornersCharuco(markers.corners, markers.ids, grey, impl_->board, corners, cornerIds,
                                         cv::noArray(), cv::noArray(), kMarkersPerCorner);
}

#endif

}  // namespace quarvel::detail
