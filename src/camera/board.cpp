#include "camera/board.h"

#include <algorithm>

namespace quarvel::detail {
namespace {

constexpr int kSquaresOnLongerSide = 16;
constexpr int kMinSquare = 12;          // six marker cells of two pixels
constexpr double kMarkerShare = 0.7;    // of the square's side
// Each board's marker ids: 125 for the validation and earlier calibration
// boards, the rest of the dictionary's 1000 for the calibration board.
constexpr int kValidationIdOffset = 125;
constexpr int kCalibrationIdOffset = 250;
constexpr int kDictionarySize = 1000;

int FloorHalf(int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

}  // namespace

std::vector<Board> BoardsOf(PatternKind kind) {
    if (kind == PatternKind::Validation) {
        return {Board::Validation};
    }
    return {Board::Calibration, Board::EarlierCalibration};
}

cv::Rect BoardLayout::Square(int column, int row) const {
    return cv::Rect(originX + column * square, originY + row * square, square, square) & cv::Rect(cv::Point(), display);
}

BoardLayout LayoutFor(int displayWidth, int displayHeight, Board board) {
    BoardLayout b;
    b.board = board;
    b.display = cv::Size(displayWidth, displayHeight);
    if (displayWidth <= 0 || displayHeight <= 0) {
        return b;
    }
    const int longer = std::max(displayWidth, displayHeight);
    b.square = std::max(kMinSquare, longer / kSquaresOnLongerSide / 2 * 2);
    b.marker = std::max(1, static_cast<int>(b.square * kMarkerShare) / 6) * 6;
    int capacity = kValidationIdOffset;
    if (board == Board::Calibration) {
        // One square more than fit, centred: the first corner inside each
        // edge lies a quarter to three quarters of a square from it.
        b.columns = static_cast<int>(std::lround(static_cast<double>(displayWidth) / b.square)) + 1;
        b.rows = static_cast<int>(std::lround(static_cast<double>(displayHeight) / b.square)) + 1;
        b.firstId = kCalibrationIdOffset;
        capacity = kDictionarySize - kCalibrationIdOffset;
    } else {
        b.columns = displayWidth / b.square;
        b.rows = displayHeight / b.square;
        b.firstId = board == Board::Validation ? kValidationIdOffset : 0;
    }
    b.originX = FloorHalf(displayWidth - b.columns * b.square);
    b.originY = FloorHalf(displayHeight - b.rows * b.square);
    // Three squares each way at least (as the boards on the display's edges
    // have them), and a board's markers, one in every other square, within
    // its ids.
    if (displayWidth / b.square < 3 || displayHeight / b.square < 3 || b.columns * b.rows / 2 + 1 > capacity) {
        b.columns = b.rows = 0;
    }
    return b;
}

std::shared_ptr<const MarkerBoard> BoardOf(const BoardLayout& layout) {
    if (!layout.valid()) {
        return nullptr;
    }
    return std::make_shared<const MarkerBoard>(layout.columns, layout.rows, static_cast<float>(layout.square),
                                               static_cast<float>(layout.marker), layout.firstId);
}

cv::Mat DrawBoard(const BoardLayout& layout) {
    cv::Mat picture(layout.display, CV_8UC1, cv::Scalar(255));
    const std::shared_ptr<const MarkerBoard> board = BoardOf(layout);
    if (!board) {
        return cv::Mat();
    }
    for (int r = 0; r < layout.rows; ++r) {
        for (int c = 0; c < layout.columns; ++c) {
            const cv::Rect square = layout.Square(c, r);
            if ((r + c) % 2 == 0 && !square.empty()) {
                picture(square).setTo(0);
            }
        }
    }
    const int inset = (layout.square - layout.marker) / 2;
    for (std::size_t i = 0; i < board->ids().size(); ++i) {
        // The marker's first corner is its top-left one, on whole pixels. A
        // square the display's edge cuts gets none: half a marker reads as
        // nothing, or as something else.
        const cv::Point3f& topLeft = board->markerCorners()[i][0];
        const cv::Rect square(layout.originX + cvRound(topLeft.x) - inset, layout.originY + cvRound(topLeft.y) - inset,
                              layout.square, layout.square);
        if ((square & cv::Rect(cv::Point(), layout.display)) != square) {
            continue;
        }
        const cv::Mat marker = board->DrawMarker(board->ids()[i], layout.marker);
        marker.copyTo(picture(cv::Rect(square.x + inset, square.y + inset, layout.marker, layout.marker)));
    }
    return picture;
}

cv::Point2d CornerOnDisplay(const BoardLayout& layout, const MarkerBoard& board, int corner) {
    const cv::Point3f& p = board.chessboardCorners()[static_cast<std::size_t>(corner)];
    return cv::Point2d(layout.originX + p.x - 0.5, layout.originY + p.y - 0.5);
}

}  // namespace quarvel::detail

namespace quarvel {

namespace {

PatternPicture Pattern(int displayWidth, int displayHeight, detail::Board board) {
    PatternPicture out;
    try {
        out.picture = detail::DrawBoard(detail::LayoutFor(displayWidth, displayHeight, board));
    } catch (...) {
        out.picture.release();
    }
    out.ok = !out.picture.empty();
    if (!out.ok) {
        out.reason = displayWidth < 64 || displayHeight < 48
                         ? "a display of " + std::to_string(displayWidth) + " x " + std::to_string(displayHeight) +
                               " is too small for a pattern (64 x 48 at least)"
                         : "out of memory";
    }
    return out;
}

}  // namespace

PatternPicture MakeCalibrationPattern(int displayWidth, int displayHeight) {
    return Pattern(displayWidth, displayHeight, detail::Board::Calibration);
}

PatternPicture MakeValidationPattern(int displayWidth, int displayHeight) {
    return Pattern(displayWidth, displayHeight, detail::Board::Validation);
}

}  // namespace quarvel
