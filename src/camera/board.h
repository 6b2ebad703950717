#ifndef QUARVEL_SRC_CAMERA_BOARD_H
#define QUARVEL_SRC_CAMERA_BOARD_H

// The patterns' geometry: a ChArUco board laid out on whole pixels over a
// display, and its picture.

#include <memory>

#include <opencv2/core.hpp>

#include <quarvel/pattern.h>

#include "camera/marker_board.h"

namespace quarvel::detail {

struct BoardLayout {
    PatternKind kind = PatternKind::Calibration;
    cv::Size display;
    int square = 0;   // side of a square, pixels (even)
    int marker = 0;   // side of a marker, pixels (six cells of whole pixels)
    int columns = 0;  // squares across
    int rows = 0;     // squares down
    int originX = 0;  // the board's top-left pixel on the display
    int originY = 0;
    int firstId = 0;  // the id of the board's first marker
    bool valid() const noexcept { return columns >= 3 && rows >= 3; }
};

// The board for a display: squares of about a sixteenth of the longer
// side, centred. The validation board is the calibration board moved by
// half a square right and down (a column and a row fewer where it would
// leave the display), with ids of its own.
BoardLayout LayoutFor(int displayWidth, int displayHeight, PatternKind kind);

// The board (in display pixels from the board's corner), with the
// layout's ids. Null for an invalid layout.
std::shared_ptr<const MarkerBoard> BoardOf(const BoardLayout& layout);

// The picture: black and white squares (the board's first square black),
// a marker centred in each white square, white beyond the board.
cv::Mat DrawBoard(const BoardLayout& layout);

// Where chessboard corner `corner` of the board lies on the display, in
// pixel-centre coordinates (corners lie between pixels: x = k - 0.5).
cv::Point2d CornerOnDisplay(const BoardLayout& layout, const MarkerBoard& board, int corner);

}  // namespace quarvel::detail

#endif
