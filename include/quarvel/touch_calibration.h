#ifndef QUARVEL_TOUCH_CALIBRATION_H
#define QUARVEL_TOUCH_CALIBRATION_H

// Calibration by touch, for a camera that cannot see the picture (an
// infrared camera behind a filter): targets shown one at a time, each
// touched and held, measured with the tracker's blob detection.
//
//   quarvel::TouchCalibrationOptions options;
//   options.columns = 5; options.rows = 4;
//   options.displayWidth = 1920; options.displayHeight = 1080;
//   quarvel::TouchCalibration calibration(options);
//   while (auto target = calibration.CurrentTarget()) {
//       ShowTarget(*target);
//       calibration.Feed(NextCameraFrame());
//   }
//   quarvel::FitResult fit = calibration.Result();

#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>
#include <quarvel/export.h>
#include <quarvel/touch.h>

namespace quarvel {

struct TouchCalibrationOptions {
    int columns = 5;  // targets on the grid TargetGrid lays out, inset 1/8 of the display
    int rows = 4;
    int displayWidth = 0;  // required
    int displayHeight = 0;
    BlobOptions blobs;           // as the tracker's (the background's rules included)
    double holdSeconds = 0.4;    // a touch counts once it has held still this long
    double stillPixels = 2.0;    // camera pixels it may wander from its mean while held
    double framesPerSecond = 30.0;  // the frames' times when Feed is given none
    // After a target is measured, the next waits until nothing is in view.
    // Something still there after this long (a glint, a sticker, a resting
    // hand) is taken into the background and the calibration goes on.
    double liftWaitSeconds = 3.0;
    bool barrel = true;             // as FitOptions
    bool lens = true;               // as FitOptions (a lens stage takes at least 24 targets)
    double outlierPixels = 3.0;     // as FitOptions
};

// Where a touch calibration stands, after a frame.
struct TouchCalibrationStatus {
    enum class Phase {
        Learning,     // the background is being learned: nothing to touch yet
        WaitingLift,  // something is still in view from before (camera says where): lift it
        WaitingTouch, // touch the current target
        Holding,      // a finger is down and holding still
        Measured,     // this frame measured a target
        Done,         // every target is measured
    };
    Phase phase = Phase::Learning;
    int target = 0;         // the current target's number, from 0
    double held = 0.0;      // seconds the finger has held still
    cv::Point2d camera;     // where the camera sees the finger (Holding, Measured), or what
                            // keeps it waiting (WaitingLift)
    double waited = 0.0;    // WaitingLift: seconds waited so far
    int absorbed = 0;       // blobs this frame took into the background after waiting too long
};

// "learning", "waiting_lift", "waiting_touch", "holding", "measured",
// "done": the names the Python module uses.
inline const char* PhaseName(TouchCalibrationStatus::Phase phase) noexcept {
    switch (phase) {
        case TouchCalibrationStatus::Phase::Learning: return "learning";
        case TouchCalibrationStatus::Phase::WaitingLift: return "waiting_lift";
        case TouchCalibrationStatus::Phase::WaitingTouch: return "waiting_touch";
        case TouchCalibrationStatus::Phase::Holding: return "holding";
        case TouchCalibrationStatus::Phase::Measured: return "measured";
        case TouchCalibrationStatus::Phase::Done: return "done";
    }
    return "done";
}

namespace detail {
struct TouchCalibrationState;
}

class QUARVEL_EXPORT TouchCalibration {
public:
    explicit TouchCalibration(const TouchCalibrationOptions& options);
    ~TouchCalibration();
    // Movable, not copyable; a moved-from TouchCalibration may only be assigned to
    // or destroyed.
    TouchCalibration(TouchCalibration&&) noexcept;
    TouchCalibration& operator=(TouchCalibration&&) noexcept;
    TouchCalibration(const TouchCalibration&) = delete;
    TouchCalibration& operator=(const TouchCalibration&) = delete;

    // The display position (pixel centres are whole numbers) to show now;
    // none once every target is measured, or when the options give no
    // targets (fewer than 2 columns or rows, no display size).
    std::optional<cv::Point2d> CurrentTarget() const;
    const std::vector<cv::Point2d>& targets() const noexcept;

    // The next camera frame (8-bit grey, BGR or BGRA, the same size
    // throughout), taken at `seconds` (NaN: the frame number divided by
    // framesPerSecond). A new blob that holds still for holdSeconds is
    // measured at its average position over the hold; the next target
    // waits until the finger has lifted. Never throws.
    TouchCalibrationStatus Feed(const cv::Mat& frame, double seconds = std::numeric_limits<double>::quiet_NaN());

    // One pair per measured target: where the camera saw it and the
    // target. A misclick is measured like any touch; the fit rejects it.
    const std::vector<PointPair>& measurements() const noexcept;

    // FitCalibration of the measurements for the frames' camera size and
    // the display (not ok before enough targets are measured).
    FitResult Result() const;

private:
    std::unique_ptr<detail::TouchCalibrationState> state_;
};

}  // namespace quarvel

#endif
