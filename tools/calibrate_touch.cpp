// quarvel calibrate --camera N --touch CxR: calibrating by touch, for a
// camera that sees fingers but not the picture.

#include <chrono>
#include <cstdio>
#include <string>

#include <opencv2/videoio.hpp>

#include <quarvel/touch_calibration.h>

#include "camera_devices.h"
#include "calibrate_modes.h"
#include "calibration_report.h"
#include "camera_source.h"
#include "cli_common.h"
#include "full_screen.h"

namespace quarvel::cli {

namespace {

// What the installer is told as the calibration goes: each target once,
// what keeps it waiting (a second into the wait, and once more when it is
// taken as background), each measurement.
class Narrator {
public:
    Narrator(const TouchCalibration& calibration, double liftWaitSeconds)
        : calibration_(calibration), liftWait_(liftWaitSeconds) {}

    void Say(const TouchCalibrationStatus& status) {
        using Phase = TouchCalibrationStatus::Phase;
        const int total = static_cast<int>(calibration_.targets().size());
        const bool touchable = status.phase == Phase::WaitingTouch || status.phase == Phase::Holding;
        if (touchable && announced_ != status.target) {
            const cv::Point2d& target = calibration_.targets()[static_cast<std::size_t>(status.target)];
            std::printf("target %d of %d at %g %g: touch it and hold still\n", status.target + 1, total, target.x,
                        target.y);
            announced_ = status.target;
        }
        if (status.phase == Phase::WaitingLift && status.waited >= 1.0 && !named_) {
            std::printf("something at camera %.0f %.0f is still in view; lift the finger (it becomes background in "
                        "%.0f s)\n", status.camera.x, status.camera.y, liftWait_ - status.waited);
            named_ = true;
        }
        if (status.absorbed > 0) {
            std::printf("%d thing%s still in view taken as background\n", status.absorbed,
                        status.absorbed == 1 ? "" : "s");
        }
        named_ = named_ && status.phase == Phase::WaitingLift;
        if (status.phase == Phase::Measured) {
            std::printf("target %d measured at camera %.2f %.2f%s\n", status.target + 1, status.camera.x,
                        status.camera.y, status.target + 1 < total ? "; lift the finger" : "");
        }
        std::fflush(stdout);
    }

private:
    const TouchCalibration& calibration_;
    double liftWait_;
    int announced_ = -1;
    bool named_ = false;
};

TouchCalibrationOptions OptionsOf(cv::Size grid, const CalibrateSetup& setup) {
    TouchCalibrationOptions options;
    options.columns = grid.width;
    options.rows = grid.height;
    options.displayWidth = setup.display.width;
    options.displayHeight = setup.display.height;
    options.barrel = setup.barrel;
    options.lens = setup.lens;
    options.blobs = setup.blobs;
    return options;
}

}  // namespace

int RunTouchMode(const std::string& source, cv::Size grid, const CalibrateSetup& setup) {
    FullScreenWindow window("calibrate", setup.display);
    if (!window.open()) {
        return Fail(kUsage, "no X display can be reached: the targets cannot be shown full-screen");
    }
    cv::VideoCapture camera;
    if (!OpenSource(camera, source)) {
        return Fail(kUsage, OpenTrouble(source, true));
    }
    const bool live = source.find_first_not_of("0123456789") == std::string::npos;
    const double fps = FramesPerSecond(camera, source);
    const TouchCalibrationOptions options = OptionsOf(grid, setup);
    TouchCalibration calibration(options);
    Narrator narrator(calibration, options.liftWaitSeconds);
    std::printf("learning the background: touch nothing yet\n");
    std::fflush(stdout);
    const auto started = std::chrono::steady_clock::now();
    long long frames = 0;
    cv::Mat frame;
    while (const auto target = calibration.CurrentTarget()) {
        const int number = static_cast<int>(calibration.measurements().size());
        if (window.Show(DrawTarget(setup.display.width, setup.display.height, *target, number + 1), 1) >= 0 ||
            TerminalKey()) {
            return Fail(kFinding, "aborted; nothing written");
        }
        try {
            if (!camera.read(frame) || frame.empty()) {
                break;
            }
        } catch (const cv::Exception&) {
            break;
        }
        if (!setup.image.empty() && frame.size() != setup.image) {
            return UsageError("calibrate ", "calibrate: --image " + std::to_string(setup.image.width) + "x" +
                                                std::to_string(setup.image.height) + " does not match the camera's " +
                                                std::to_string(frame.cols) + "x" + std::to_string(frame.rows));
        }
        const double seconds = live ? std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()
                                    : static_cast<double>(frames) / fps;
        ++frames;
        narrator.Say(calibration.Feed(frame, seconds));
    }
    const std::vector<PointPair>& pairs = calibration.measurements();
    const int total = static_cast<int>(calibration.targets().size());
    if (static_cast<int>(pairs.size()) < total) {
        return Fail(kFinding, "the camera's frames ended after " + std::to_string(pairs.size()) + " of " +
                                  std::to_string(total) + " targets; nothing written");
    }
    const FitResult fit = calibration.Result();
    const cv::Mat report =
        setup.report.empty() || fit.pairs.empty() ? cv::Mat() : DrawCalibrationReport(pairs, fit);
    return FinishCalibration(pairs, fit, setup, true, report);
}

}  // namespace quarvel::cli
