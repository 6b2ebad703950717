#ifndef QUARVEL_PATTERN_H
#define QUARVEL_PATTERN_H

// Calibrating by looking: a pattern shown on the display, seen by the
// camera, fitted in one step.
//
//   cv::Mat pattern = quarvel::MakeCalibrationPattern(1920, 1080).picture;   // show it full-screen
//   cv::Mat frame = ...;                                             // what the camera saw
//   quarvel::PatternDetection seen = quarvel::DetectCalibrationPattern(frame, 1920, 1080);
//   quarvel::FitOptions o; o.imageWidth = frame.cols; o.imageHeight = frame.rows;
//   o.displayWidth = 1920; o.displayHeight = 1080;
//   quarvel::FitResult fit = quarvel::FitCalibration(seen.pairs, o);
//
// or, with a camera the host drives, all of it at once:
//
//   quarvel::CameraCalibrationOptions options;
//   options.displayWidth = 1920; options.displayHeight = 1080;
//   auto result = quarvel::CalibrateWithCamera(
//       [&](const cv::Mat& shown) { ShowFullScreen(shown); return NextCameraFrame(); }, options);
//   // result.fit, result.validationRms (the written file's error, measured)
//
// The pattern is a ChArUco board (a chessboard whose white squares hold
// ArUco markers; OpenCV's aruco module finds it): the markers say which
// corner is which, so any part of the board, any way round and mirrored,
// gives camera <-> display pairs; the chessboard corners give them with
// sub-pixel accuracy.

#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>
#include <quarvel/export.h>

namespace quarvel {

// A pattern to show full-screen, or why there is none.
struct PatternPicture {
    bool ok = false;
    std::string reason;  // a display too small to hold a board (under 64 x 48)
    cv::Mat picture;     // 8-bit grey, exactly the display's size (empty when not ok)
};

// The calibration pattern for a display of the given size: a board of
// squares whose edges lie on pixel boundaries (a corner between pixel
// columns k - 1 and k is at x = k - 0.5, pixel centres being whole
// numbers). Not ok for a display too small to hold a board.
QUARVEL_EXPORT PatternPicture MakeCalibrationPattern(int displayWidth, int displayHeight);

// The validation pattern: the same board moved by half a square, with
// markers of its own, so that its corners fall in the middle of the
// calibration pattern's squares and a frame of the one is never taken for
// the other.
QUARVEL_EXPORT PatternPicture MakeValidationPattern(int displayWidth, int displayHeight);

enum class PatternKind { Calibration, Validation };

// What a frame shows of a pattern.
struct PatternDetection {
    bool ok = false;  // corners were found (pairs is not empty)
    // One pair per corner found: where the camera saw it (sub-pixel) and
    // where the pattern has it on the display.
    std::vector<PointPair> pairs;
    std::vector<int> corners;  // each pair's corner number on the board
    int markers = 0;           // the pattern's markers decoded
    bool mirrored = false;     // the camera sees the display mirrored (rear projection)
    double coverage = 0.0;     // share of the display inside the found corners' outline
    // Share of the pattern's own corner outline that the found corners
    // cover: 1 when the camera saw the whole pattern. (The pattern's
    // corners lie a square inside the display's edges, so `coverage` stays
    // below 1 even then.)
    double patternCoverage = 0.0;
    std::string reason;        // why there are no pairs; empty when there are
};

// Finds the pattern of that kind in a camera frame (8-bit grey, BGR or
// BGRA, any size) and returns its corners as camera <-> display pairs. A
// frame that shows the display mirrored is recognised as such. Never
// throws; a frame without the pattern gives no pairs and a reason.
QUARVEL_EXPORT PatternDetection DetectCalibrationPattern(const cv::Mat& frame, int displayWidth, int displayHeight,
                                                         PatternKind kind = PatternKind::Calibration);

// Where CalibrateWithCamera stands, after each frame.
struct CameraProgress {
    PatternKind showing = PatternKind::Calibration;
    int frame = 0;         // frames read so far, in all
    int corners = 0;       // corners found in this frame
    bool settled = false;  // the picture has settled in the camera
    int collected = 0;     // settled frames gathered for this pattern
    int needed = 0;        // how many are combined
};

struct CameraCalibrationOptions {
    int displayWidth = 0;  // the display the patterns are shown on (required)
    int displayHeight = 0;
    bool barrel = true;          // as FitOptions
    bool lens = true;            // as FitOptions
    double outlierPixels = 3.0;  // as FitOptions
    int framesToCombine = 5;     // settled frames averaged for each pattern
    int maxFrames = 150;         // frames after which a pattern that never settled is given up
    // Called after every frame; returning false aborts the calibration.
    std::function<bool(const CameraProgress&)> progress;
};

struct CameraCalibrationResult {
    bool ok = false;     // a trustworthy fit, validated through the camera
    std::string reason;  // why not
    // What FitCalibration returned for the combined pairs and the camera
    // size of the frames; its expected error is at least the validation's,
    // which is measured.
    FitResult fit;
    // The corrected validation corners against where they were shown:
    // the error of the fitted calibration measured through the camera, in
    // display pixels (NaN when not measured).
    double validationRms = 0.0;
    double validationMax = 0.0;
    int validationPairs = 0;
    int framesUsed = 0;  // frames combined, both patterns
    int framesRead = 0;  // frames read in all
    cv::Size cameraSize;
    PatternDetection detection;  // the combined calibration pairs
};

// Calibrates through a camera the host drives: `capture(shown)` puts the
// picture `shown` (displayWidth x displayHeight, 8-bit grey) on the display
// (full-screen) and returns the next camera frame taken while it is up
// (8-bit grey, BGR or BGRA); an empty frame ends the calibration. The
// library never opens a device.
//
// It shows the calibration pattern, waits until the picture has settled in
// the camera (frames may still show what was shown before; an automatic
// exposure takes a few frames), averages framesToCombine settled frames,
// fits, then shows the validation pattern the same way and measures the
// fit on its corners. Never throws.
QUARVEL_EXPORT CameraCalibrationResult CalibrateWithCamera(const std::function<cv::Mat(const cv::Mat& shown)>& capture,
                                                           const CameraCalibrationOptions& options);

}  // namespace quarvel

#endif
