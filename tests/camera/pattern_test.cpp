// The patterns: pixel-exact boards for every display size whose corners
// reach within half a square of every edge, the validation board's corners
// between the calibration board's, the pattern of earlier releases still
// found, and a perfect view of each found exactly.
#include <gtest/gtest.h>

#include <cstdint>

#include <quarvel/pattern.h>

#include "camera/board.h"

namespace {

using quarvel::PatternKind;

const cv::Size kDisplays[] = {{1280, 800}, {1280, 720}, {1680, 1050}, {1920, 1080}, {1920, 1200}, {1080, 1920}};

TEST(Pattern, FillsTheDisplayWithSquaresOnPixelBoundaries) {
    for (const cv::Size display : kDisplays) {
        const cv::Mat pattern = quarvel::MakeCalibrationPattern(display.width, display.height).picture;
        ASSERT_EQ(pattern.size(), display);
        ASSERT_EQ(pattern.type(), CV_8UC1);
        EXPECT_EQ(cv::countNonZero((pattern != 0) & (pattern != 255)), 0) << "only black and white";
        // Seen by a camera that is the display itself, every corner is where
        // the pattern says, between pixels.
        const quarvel::PatternDetection seen = quarvel::DetectCalibrationPattern(pattern, display.width, display.height);
        ASSERT_GE(seen.pairs.size(), 130u) << display << ": " << seen.reason;
        EXPECT_FALSE(seen.mirrored);
        // Every corner, those beside the squares the edges cut included: they
        // reach within half a square of each edge.
        EXPECT_DOUBLE_EQ(seen.patternCoverage, 1.0) << display;
        EXPECT_GT(seen.coverage, 0.8) << display;
        double left = display.width;
        double right = 0;
        for (const quarvel::PointPair& p : seen.pairs) {
            left = std::min(left, p.display.x);
            right = std::max(right, p.display.x);
        }
        const int square = std::max(display.width, display.height) / 16 / 2 * 2;
        EXPECT_LE(left, 0.75 * square) << display;
        EXPECT_GE(right, display.width - 1 - 0.75 * square) << display;
        for (const quarvel::PointPair& p : seen.pairs) {
            EXPECT_EQ(p.display.x - std::floor(p.display.x), 0.5) << display;
            EXPECT_EQ(p.display.y - std::floor(p.display.y), 0.5) << display;
            EXPECT_NEAR(p.camera.x, p.display.x, 0.05) << display << " corner at " << p.display;
            EXPECT_NEAR(p.camera.y, p.display.y, 0.05) << display << " corner at " << p.display;
            // Two black and two white squares meet there.
            const int x = static_cast<int>(p.display.x + 0.5);
            const int y = static_cast<int>(p.display.y + 0.5);
            EXPECT_EQ(pattern.at<unsigned char>(y - 1, x - 1), pattern.at<unsigned char>(y, x));
            EXPECT_NE(pattern.at<unsigned char>(y - 1, x - 1), pattern.at<unsigned char>(y - 1, x));
        }
    }
}

TEST(Pattern, ValidationCornersFallBetweenTheCalibrationCorners) {
    const cv::Mat validation = quarvel::MakeValidationPattern(1920, 1080).picture;
    ASSERT_EQ(validation.size(), cv::Size(1920, 1080));
    const quarvel::PatternDetection v =
        quarvel::DetectCalibrationPattern(validation, 1920, 1080, PatternKind::Validation);
    const quarvel::PatternDetection c = quarvel::DetectCalibrationPattern(
        quarvel::MakeCalibrationPattern(1920, 1080).picture, 1920, 1080, PatternKind::Calibration);
    ASSERT_GE(v.pairs.size(), 80u) << v.reason;
    for (const quarvel::PointPair& pv : v.pairs) {
        double nearest = 1e9;
        for (const quarvel::PointPair& pc : c.pairs) {
            nearest = std::min(nearest, cv::norm(pv.display - pc.display));
        }
        EXPECT_NEAR(nearest, std::hypot(60.0, 60.0), 1e-9);  // half a square away both ways
    }
    // Neither pattern is taken for the other.
    const quarvel::PatternDetection wrong = quarvel::DetectCalibrationPattern(validation, 1920, 1080);
    EXPECT_TRUE(wrong.pairs.empty());
    EXPECT_NE(wrong.reason.find("not the calibration pattern's"), std::string::npos) << wrong.reason;
}

// FNV-1a over the rows of an 8-bit picture.
std::uint64_t PictureHash(const cv::Mat& picture) {
    std::uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < picture.rows; ++y) {
        for (int x = 0; x < picture.cols; ++x) {
            h = (h ^ picture.at<unsigned char>(y, x)) * 1099511628211ull;
        }
    }
    return h;
}

// A pattern shown by one installation is found by another: the pictures do
// not depend on the OpenCV release that draws them (4.6 draws markers with
// the contrib module, 4.7 and later with objdetect).
TEST(Pattern, IsTheSamePictureWhicheverOpenCVDrawsIt) {
    const struct {
        cv::Size display;
        PatternKind kind;
        std::uint64_t hash;
    } cases[] = {
        {{1920, 1080}, PatternKind::Calibration, 0x691230c815f005ffull},
        {{1280, 800}, PatternKind::Calibration, 0x26b0cb9d36c59b5bull},
        {{1080, 1920}, PatternKind::Calibration, 0xaeba1cd45128f07bull},
        {{1280, 720}, PatternKind::Validation, 0xd875f8abc6e6407full},
        {{1280, 800}, PatternKind::Validation, 0x31e798ab0151e182ull},
    };
    for (const auto& c : cases) {
        const cv::Mat picture = c.kind == PatternKind::Calibration
                                    ? quarvel::MakeCalibrationPattern(c.display.width, c.display.height).picture
                                    : quarvel::MakeValidationPattern(c.display.width, c.display.height).picture;
        EXPECT_EQ(PictureHash(picture), c.hash) << c.display << " kind " << static_cast<int>(c.kind) << ": 0x"
                                                << std::hex << PictureHash(picture);
    }
}

// Frames taken of the calibration pattern earlier releases drew (squares
// on the display's edges, marker ids from 0) are still found, each corner
// where that pattern had it; the picture is exactly the one they drew.
TEST(Pattern, TheEarlierCalibrationPatternIsStillFound) {
    using quarvel::detail::Board;
    const struct {
        cv::Size display;
        std::uint64_t hash;  // what the earlier releases drew
    } cases[] = {{{1920, 1080}, 0x8846de8fa060a9bbull}, {{1280, 800}, 0x8795ffe1e950e012ull}};
    for (const auto& c : cases) {
        const cv::Mat earlier =
            quarvel::detail::DrawBoard(quarvel::detail::LayoutFor(c.display.width, c.display.height, Board::EarlierCalibration));
        EXPECT_EQ(PictureHash(earlier), c.hash) << c.display;
        const quarvel::PatternDetection seen =
            quarvel::DetectCalibrationPattern(earlier, c.display.width, c.display.height);
        ASSERT_GE(seen.pairs.size(), 100u) << seen.reason;
        const int square = std::max(c.display.width, c.display.height) / 16 / 2 * 2;
        for (const quarvel::PointPair& p : seen.pairs) {
            EXPECT_NEAR(p.camera.x, p.display.x, 0.05);
            EXPECT_NEAR(p.camera.y, p.display.y, 0.05);
            // That board's corners lie on whole squares from the edge.
            EXPECT_EQ(std::fmod(p.display.x + 0.5, square), 0.0) << p.display;
        }
    }
}

TEST(Pattern, DisplaysTooSmallOrNotThereHaveNone) {
    for (const cv::Size none : {cv::Size(30, 20), cv::Size(0, 600), cv::Size(-5, 600)}) {
        const quarvel::PatternPicture p = quarvel::MakeValidationPattern(none.width, none.height);
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(p.picture.empty());
        EXPECT_NE(p.reason.find("too small for a pattern"), std::string::npos) << p.reason;
    }
    const quarvel::PatternPicture smallest = quarvel::MakeCalibrationPattern(64, 48);
    EXPECT_TRUE(smallest.ok);
    EXPECT_EQ(smallest.picture.size(), cv::Size(64, 48));
    EXPECT_TRUE(quarvel::DetectCalibrationPattern(cv::Mat(480, 640, CV_8UC1), 0, 0).pairs.empty());
}

}  // namespace
