// The module's calibration by looking: the pattern, its detector and
// calibrating through a camera the Python program drives.

#include <optional>
#include <string>

#include <quarvel/pattern.h>

#include "module_support.h"

namespace quarvel::python {
namespace {

py::array CalibrationPatternPy(std::pair<int, int> display, bool validation) {
    const cv::Mat picture = validation ? quarvel::MakeValidationPattern(display.first, display.second)
                                       : quarvel::MakeCalibrationPattern(display.first, display.second);
    if (picture.empty()) {
        throw py::value_error("the display is too small for a pattern");
    }
    return FromCanvas(picture);
}

// The display a pattern can be laid out on; ValueError otherwise.
void RequirePatternDisplay(std::pair<int, int> display) {
    if (display.first <= 0 || display.second <= 0) {
        throw py::value_error("display must be a positive (W, H)");
    }
    if (quarvel::MakeCalibrationPattern(display.first, display.second).empty()) {
        throw py::value_error("the display is too small for a pattern");
    }
}

quarvel::PatternDetection Detect(const py::array& frame, std::pair<int, int> display, bool validation) {
    RequirePatternDisplay(display);
    const cv::Mat view = FrameView(frame);
    py::gil_scoped_release unlocked;  // the frame and the detection are this call's own
    return quarvel::DetectCalibrationPattern(view, display.first, display.second,
                                             validation ? quarvel::PatternKind::Validation
                                                        : quarvel::PatternKind::Calibration);
}

py::object DetectionObject(const quarvel::PatternDetection& d) {
    py::array_t<int> corners(static_cast<py::ssize_t>(d.corners.size()));
    for (std::size_t i = 0; i < d.corners.size(); ++i) {
        corners.mutable_at(static_cast<py::ssize_t>(i)) = d.corners[i];
    }
    py::object result = py::module_::import("types").attr("SimpleNamespace")();
    result.attr("ok") = d.ok;
    result.attr("reason") = d.reason;
    result.attr("pairs") = PairsArray(d.pairs);
    result.attr("corners") = corners;
    result.attr("markers") = d.markers;
    result.attr("mirrored") = d.mirrored;
    result.attr("coverage") = d.coverage;
    return result;
}

py::object CalibrateWithCameraPy(const py::function& capture, std::pair<int, int> display, bool barrel,
                                 int framesToCombine, int maxFrames, bool lens) {
    RequirePatternDisplay(display);
    quarvel::CameraCalibrationOptions options;
    options.displayWidth = display.first;
    options.displayHeight = display.second;
    options.barrel = barrel;
    options.lens = lens;
    options.framesToCombine = framesToCombine;
    options.maxFrames = maxFrames;
    // The Python camera's exception (or a frame of the wrong kind),
    // raised once the library returns.
    std::optional<py::error_already_set> failure;
    std::string badFrame;
    const quarvel::CameraCalibrationResult r = quarvel::CalibrateWithCamera(
        [&](const cv::Mat& shown) -> cv::Mat {
            try {
                const py::object frame = capture(FromCanvas(shown));
                if (frame.is_none()) {
                    return cv::Mat();
                }
                return FrameView(py::array::ensure(frame)).clone();
            } catch (py::error_already_set& e) {
                failure.emplace(std::move(e));
                return cv::Mat();
            } catch (const std::exception& e) {
                badFrame = e.what();
                return cv::Mat();
            }
        },
        options);
    if (failure) {
        throw std::move(*failure);
    }
    if (!badFrame.empty()) {
        throw py::type_error("capture(shown) returned something that is not a frame: " + badFrame);
    }
    py::object result = py::module_::import("types").attr("SimpleNamespace")();
    result.attr("ok") = r.ok;
    result.attr("reason") = r.reason;
    result.attr("fit") = FitObject(r.fit);
    result.attr("validation_rms") = r.validationRms;
    result.attr("validation_max") = r.validationMax;
    result.attr("validation_pairs") = r.validationPairs;
    result.attr("frames_used") = r.framesUsed;
    result.attr("frames_read") = r.framesRead;
    result.attr("camera_size") = std::make_pair(r.cameraSize.width, r.cameraSize.height);
    result.attr("pairs") = PairsArray(r.detection.pairs);
    result.attr("mirrored") = r.detection.mirrored;
    result.attr("coverage") = r.detection.coverage;
    result.attr("detection") = DetectionObject(r.detection);
    return result;
}

}  // namespace

void BindCamera(py::module_& m) {
    m.def("calibration_pattern", &CalibrationPatternPy, py::arg("display"), py::arg("validation") = false,
          "The calibration pattern for a display=(W, H): an (H, W) uint8 picture to show full-screen "
          "(validation=True: the validation pattern).");
    m.def(
        "detect_calibration_pattern",
        [](const py::array& frame, std::pair<int, int> display, bool validation) {
            return PairsArray(Detect(frame, display, validation).pairs);
        },
        py::arg("frame"), py::arg("display"), py::arg("validation") = false,
        "Finds the pattern in a camera frame ((H, W) grey, (H, W, 3) BGR or (H, W, 4) BGRA uint8): an (N, 4) "
        "float64 array of rows x, y (camera) X, Y (display), empty when the pattern is not seen. ValueError for "
        "a display no pattern fits.");
    m.def(
        "detect_pattern",
        [](const py::array& frame, std::pair<int, int> display, bool validation) {
            return DetectionObject(Detect(frame, display, validation));
        },
        py::arg("frame"), py::arg("display"), py::arg("validation") = false,
        "The whole detection: ok, reason (why nothing was found), pairs (N, 4), corners (each pair's corner "
        "number), markers, mirrored, coverage.");
    m.def("calibrate_with_camera", &CalibrateWithCameraPy, py::arg("capture"), py::arg("display"),
          py::arg("barrel") = true, py::arg("frames_to_combine") = 5, py::arg("max_frames") = 150,
          py::arg("lens") = true,
          "Calibrates through a camera: capture(shown) shows the (H, W) uint8 picture full-screen and returns the "
          "next camera frame (grey or BGR uint8; None ends it). Returns ok, reason, fit (what fit_calibration "
          "returns; its expected error is at least the validation's), validation_rms, validation_max, "
          "validation_pairs, frames_used, frames_read, camera_size, pairs, "
          "mirrored, coverage.");
}

}  // namespace quarvel::python
