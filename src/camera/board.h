#ifndef QUARVEL_SRC_CAMERA_BOARD_H
#define QUARVEL_SRC_CAMERA_BOARD_H

// The patterns' geometry: a ChArUco board laid out on whole pixels over a
// display, and its picture.

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/pattern.h>

#include "camera/marker_board.h"

namespace quarvel::detail {

// The boards a frame may show.
enum class Board {
    // The calibration pattern: its squares straddle the display's edges
    // (half a square beyond them, give or take), so its corners come within
    // half a square of every edge. Marker ids from 250.
    Calibration,
    // The validation pattern: the calibration board moved by half a square,
    // its squares ending on the display's edges; its corners fall between
    // the calibration board's. Marker ids from 125.
    Validation,
    // The calibration pattern of earlier releases: the validation board's
    // squares with marker ids from 0. Frames taken of it are still found.
    EarlierCalibration,
};

// The boards a pattern kind may be found as, the current one first.
std::vector<Board> BoardsOf(PatternKind kind);

struct BoardLayout {
    Board board = Board::Calibration;
    cv::Size display;
    int square = 0;   // side of a square, pixels (even)
    int marker = 0;   // side of a marker, pixels (six cells of whole pixels)
    int columns = 0;  // squares across (those cut by the display's edges included)
    int rows = 0;     // squares down
    int originX = 0;  // the board's top-left corner on the display (negative: beyond its edge)
    int originY = 0;
    int firstId = 0;  // the id of the board's first marker
    bool valid() const noexcept { return columns >= 3 && rows >= 3; }
    // The square at (column, row), clipped to the display.
    cv::Rect Square(int column, int row) const;
};

// The board for a display: squares of about a sixteenth of the longer
// side, centred.
BoardLayout LayoutFor(int displayWidth, int displayHeight, Board board);

// The board (in display pixels from the board's corner), with the layout's
// ids. Null for an invalid layout.
std::shared_ptr<const MarkerBoard> BoardOf(const BoardLayout& layout);

// The picture: black and white squares (the board's first square black),
// a marker centred in each white square the display shows whole, white
// beyond the board.
cv::Mat DrawBoard(const BoardLayout& layout);

// Where chessboard corner `corner` of the board lies on the display, in
// pixel-centre coordinates (corners lie between pixels: x = k - 0.5).
cv::Point2d CornerOnDisplay(const BoardLayout& layout, const MarkerBoard& board, int corner);

}  // namespace quarvel::detail

#endif
