#ifndef QUARVEL_SRC_CAMERA_MARKER_BOARD_H
#define QUARVEL_SRC_CAMERA_MARKER_BOARD_H

// A chessboard with ArUco markers in its white squares, as OpenCV's ArUco
// code sees it. OpenCV 4.7 replaced the contrib module's free functions
// (CharucoBoard::create, DetectorParameters::create, detectMarkers,
// interpolateCornersCharuco) with the detector classes of its objdetect
// module; this is the one place that knows both interfaces, so that the
// pattern and its detector read the same whatever OpenCV 4.6 to 4.10 they
// are built with.

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::detail {

// Markers found in a frame: each one's four corners (clockwise from the
// marker's top-left) and its id.
struct FoundMarkers {
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    std::vector<std::vector<cv::Point2f>> rejected;  // candidates no id was read from
};

class MarkerBoard {
public:
    // columns x rows squares of `square` units, markers of `marker` units
    // in the white squares, numbered from `firstId` in the order OpenCV
    // places them, from the 4x4 dictionary of 1000 markers. Throws what
    // OpenCV throws for an impossible board.
    MarkerBoard(int columns, int rows, float square, float marker, int firstId);

    // The markers' ids, and each one's corners on the board (board units
    // from its top-left corner; z is 0), in the same order.
    const std::vector<int>& ids() const noexcept { return ids_; }
    const std::vector<std::vector<cv::Point3f>>& markerCorners() const noexcept { return markerCorners_; }
    // The inner chessboard corners on the board, numbered row by row.
    const std::vector<cv::Point3f>& chessboardCorners() const noexcept { return chessboardCorners_; }

    // The picture of marker `id`: side x side pixels with a one-cell border.
    cv::Mat DrawMarker(int id, int side) const;

    // Every marker of the dictionary in an 8-bit grey frame, each one's
    // corners as first found (no corner refinement).
    FoundMarkers DetectMarkers(const cv::Mat& grey) const;

    // Looks again, among the rejected candidates, for this board's markers
    // that the ones found predict.
    void RefineMarkers(const cv::Mat& grey, FoundMarkers& markers) const;

    // The chessboard corners between the markers found (each needs two
    // markers beside it), refined in the frame, and their numbers.
    void InterpolateCorners(const cv::Mat& grey, const FoundMarkers& markers, std::vector<cv::Point2f>& corners,
                            std::vector<int>& cornerIds) const;

private:
    struct Impl;
    std::shared_ptr<const Impl> impl_;
    std::vector<int> ids_;
    std::vector<std::vector<cv::Point3f>> markerCorners_;
    std::vector<cv::Point3f> chessboardCorners_;
};

}  // namespace quarvel::detail

#endif
