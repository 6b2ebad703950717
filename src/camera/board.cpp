#include "camera/board.h"

#include <algorithm>

namespace quarvel::detail {
namespace {

constexpr int kSquaresOnLongerSide = 16;
constexpr int kMinSquare = 12;          // six marker cells of two pixels
constexpr double kMarkerShare = 0.7;    // of the square's side
constexpr int kValidationIdOffset = 125;  // validation ids follow the calibration ones (at most 125)

}  // namespace

BoardLayout LayoutFor(int displayWidth, int displayHeight, PatternKind kind) {
    BoardLayout b;
    b.kind = kind;
    b.display = cv::Size(displayWidth, displayHeight);
    if (displayWidth <= 0 || displayHeight <= 0) {
        return b;
    }
    const int longer = std::max(displayWidth, displayHeight);
    b.square = std::max(kMinSquare, longer / kSquaresOnLongerSide / 2 * 2);
    b.marker = std::max(1, static_cast<int>(b.square * kMarkerShare) / 6) * 6;
    b.columns = displayWidth / b.square;
    b.rows = displayHeight / b.square;
    b.originX = (displayWidth - b.columns * b.square) / 2;
    b.originY = (displayHeight - b.rows * b.square) / 2;
    if (kind == PatternKind::Validation) {
        b.firstId = kValidationIdOffset;
        b.originX += b.square / 2;
        b.originY += b.square / 2;
        if (b.originX + b.columns * b.square > displayWidth) {
            --b.columns;
        }
        if (b.originY + b.rows * b.square > displayHeight) {
            --b.rows;
        }
    }
    // A board's markers: one in every other square.
    if (b.columns * b.rows / 2 + 1 > kValidationIdOffset) {
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
            if ((r + c) % 2 == 0) {
                picture(cv::Rect(layout.originX + c * layout.square, layout.originY + r * layout.square,
                                 layout.square, layout.square))
                    .setTo(0);
            }
        }
    }
    for (std::size_t i = 0; i < board->ids().size(); ++i) {
        const cv::Mat marker = board->DrawMarker(board->ids()[i], layout.marker);
        // The marker's first corner is its top-left one, on whole pixels.
        const cv::Point3f& topLeft = board->markerCorners()[i][0];
        marker.copyTo(picture(cv::Rect(layout.originX + cvRound(topLeft.x), layout.originY + cvRound(topLeft.y),
                                       layout.marker, layout.marker)));
    }
    return picture;
}

cv::Point2d CornerOnDisplay(const BoardLayout& layout, const MarkerBoard& board, int corner) {
    const cv::Point3f& p = board.chessboardCorners()[static_cast<std::size_t>(corner)];
    return cv::Point2d(layout.originX + p.x - 0.5, layout.originY + p.y - 0.5);
}

}  // namespace quarvel::detail

namespace quarvel {

cv::Mat MakeCalibrationPattern(int displayWidth, int displayHeight) {
    try {
        return detail::DrawBoard(detail::LayoutFor(displayWidth, displayHeight, PatternKind::Calibration));
    } catch (...) {
        return cv::Mat();
    }
}

cv::Mat MakeValidationPattern(int displayWidth, int displayHeight) {
    try {
        return detail::DrawBoard(detail::LayoutFor(displayWidth, displayHeight, PatternKind::Validation));
    } catch (...) {
        return cv::Mat();
    }
}

}  // namespace quarvel
