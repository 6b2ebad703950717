// quarvel calibrate --frame | --camera: calibrating by looking at the
// pattern through the camera, from a saved frame or live.

#include <cstdio>
#include <string>


#include <quarvel/pattern.h>

#include "camera_devices.h"
#include "calibrate_modes.h"
#include "calibration_report.h"
#include "camera_source.h"
#include "cli_common.h"
#include "full_screen.h"

namespace quarvel::cli {
namespace {

void PrintFound(const PatternDetection& seen, cv::Size frame) {
    std::printf("found %zu corners (%d markers) in the %d x %d frame%s: %.0f %% of the pattern seen, the corners "
                "found spanning %.0f %% of the display\n",
                seen.pairs.size(), seen.markers, frame.width, frame.height,
                seen.mirrored ? ", seen mirrored (rear projection)" : "", 100 * seen.patternCoverage,
                100 * seen.coverage);
    if (seen.coverage < 0.5) {
        std::printf("warning: the corners found span less than half of the display: the fit extrapolates beyond "
                    "them\n");
    }
}

std::string SizeText(cv::Size s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

}  // namespace

int RunFrameMode(const std::string& path, const CalibrateSetup& setup) {
    const cv::Mat frame = ReadGreyImage(path);
    if (frame.empty()) {
        return Fail(kUsage, "cannot read image '" + path + "'");
    }
    if (!setup.image.empty() && setup.image != frame.size()) {
        return UsageError("calibrate ", "calibrate: --image " + SizeText(setup.image) + " does not match the frame's " +
                                            SizeText(frame.size()));
    }
    const PatternDetection seen = DetectCalibrationPattern(frame, setup.display.width, setup.display.height);
    if (seen.pairs.empty()) {
        return Fail(kFinding, "no pattern in '" + path + "': " + seen.reason + "; nothing written");
    }
    PrintFound(seen, frame.size());
    const FitResult fit = FitCalibration(seen.pairs, OptionsFor(setup, frame.size()));
    const cv::Mat report = setup.report.empty() ? cv::Mat() : DrawFrameReport(frame, seen.pairs, fit, seen.coverage);
    return FinishCalibration(seen.pairs, fit, setup, false, report);
}

int RunCameraMode(const std::string& source, const CalibrateSetup& setup) {
    FullScreenWindow window("calibrate", setup.display);
    if (!window.open()) {
        return Fail(kUsage, "no X display can be reached: the patterns cannot be shown full-screen (show 'quarvel "
                            "pattern' yourself and use --frame with a saved frame)");
    }
    cv::VideoCapture camera;
    if (!OpenSource(camera, source)) {
        return Fail(kUsage, OpenTrouble(source, true));
    }
    bool aborted = false;
    std::string wrongSize;
    cv::Mat last;
    CameraCalibrationOptions options;
    options.displayWidth = setup.display.width;
    options.displayHeight = setup.display.height;
    options.barrel = setup.barrel;
    options.lens = setup.lens;
    options.progress = [&](const CameraProgress& p) {
        std::printf("%s pattern: frame %d, %d corners%s\n",
                    p.showing == PatternKind::Calibration ? "calibration" : "validation", p.frame, p.corners,
                    p.settled ? (", settled: " + std::to_string(p.collected) + " of " + std::to_string(p.needed) +
                                 " frames gathered")
                                    .c_str()
                              : "");
        std::fflush(stdout);
        return !aborted;
    };
    const CameraCalibrationResult result = CalibrateWithCamera(
        [&](const cv::Mat& shown) -> cv::Mat {
            if (window.Show(shown, 30) >= 0 || TerminalKey()) {
                aborted = true;
                return cv::Mat();
            }
            cv::Mat frame;
            try {
                if (!camera.read(frame)) {
                    return cv::Mat();
                }
            } catch (const cv::Exception&) {
                return cv::Mat();
            }
            if (!setup.image.empty() && frame.size() != setup.image) {
                wrongSize = "--image " + SizeText(setup.image) + " does not match the camera's " + SizeText(frame.size());
                return cv::Mat();
            }
            last = frame;
            return frame;
        },
        options);
    if (!wrongSize.empty()) {
        return UsageError("calibrate ", "calibrate: " + wrongSize);
    }
    if (aborted) {
        return Fail(kFinding, "aborted; nothing written");
    }
    if (result.detection.pairs.empty()) {
        return Fail(kFinding, result.reason + "; nothing written");
    }
    std::printf("%d frames read, %d combined\n", result.framesRead, result.framesUsed);
    PrintFound(result.detection, result.cameraSize);
    if (!result.fit.ok) {
        return FinishCalibration(result.detection.pairs, result.fit, setup, false, cv::Mat());
    }
    if (!result.ok) {
        return Fail(kFinding, "the fit could not be validated: " + result.reason + "; nothing written");
    }
    std::printf("validation through the camera: rms %.3f px, max %.3f px over %d corners between the fitted ones\n",
                result.validationRms, result.validationMax, result.validationPairs);
    const cv::Mat report = setup.report.empty() || last.empty()
                               ? cv::Mat()
                               : DrawFrameReport(last, result.detection.pairs, result.fit, result.detection.coverage);
    return FinishCalibration(result.detection.pairs, result.fit, setup, false, report);
}

}  // namespace quarvel::cli
