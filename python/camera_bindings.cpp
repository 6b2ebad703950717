// The module's calibration by looking: the pattern, its detector and
// calibrating through a camera the Python program drives.

#include <optional>
#include <string>

#include <quarvel/pattern.h>

#include "module_support.h"

namespace quarvel::python {
namespace {

// The display a pattern can be laid out on; ValueError otherwise.
void RequirePatternDisplay(std::pair<int, int> display) {
    if (display.first <= 0 || display.second <= 0) {
        throw py::value_error("display must be a positive (W, H)");
    }
    const PatternPicture pattern = MakeCalibrationPattern(display.first, display.second);
    if (!pattern.ok) {
        throw py::value_error(pattern.reason);
    }
}

py::array CalibrationPatternPy(std::pair<int, int> display, bool validation) {
    RequirePatternDisplay(display);
    const PatternPicture pattern = validation ? MakeValidationPattern(display.first, display.second)
                                              : MakeCalibrationPattern(display.first, display.second);
    if (!pattern.ok) {
        throw py::value_error(pattern.reason);
    }
    return FromCanvas(pattern.picture);
}

PatternDetection Detect(const py::array& frame, std::pair<int, int> display, bool validation) {
    RequirePatternDisplay(display);
    const cv::Mat view = FrameView(frame);
    py::gil_scoped_release unlocked;  // the frame and the detection are this call's own
    return DetectCalibrationPattern(view, display.first, display.second,
                                    validation ? PatternKind::Validation : PatternKind::Calibration);
}

// A frame the Python camera gave, as the library takes it; the camera's
// own exception, or a frame of the wrong kind, kept to raise once the
// library returns.
struct PythonCamera {
    const py::function& capture;
    std::optional<py::error_already_set> failure;
    std::string badFrame;

    cv::Mat operator()(const cv::Mat& shown) {
        try {
            const py::object frame = capture(FromCanvas(shown));
            if (frame.is_none()) {
                return cv::Mat();
            }
            return FrameView(py::array::ensure(frame)).clone();
        } catch (py::error_already_set& e) {
            failure.emplace(std::move(e));
        } catch (const std::exception& e) {
            badFrame = e.what();
        }
        return cv::Mat();
    }
};

py::object CalibrateWithCameraPy(const py::function& capture, std::pair<int, int> display, bool barrel,
                                 int framesToCombine, int maxFrames, bool lens) {
    RequirePatternDisplay(display);
    CameraCalibrationOptions options;
    options.displayWidth = display.first;
    options.displayHeight = display.second;
    options.barrel = barrel;
    options.lens = lens;
    options.framesToCombine = framesToCombine;
    options.maxFrames = maxFrames;
    PythonCamera camera{capture, std::nullopt, {}};
    const CameraCalibrationResult r = CalibrateWithCamera(std::ref(camera), options);
    if (camera.failure) {
        throw std::move(*camera.failure);
    }
    if (!camera.badFrame.empty()) {
        throw py::type_error("capture(shown) returned something that is not a frame: " + camera.badFrame);
    }
    py::object result = Namespace();
    result.attr("ok") = r.ok;
    result.attr("reason") = r.reason;
    result.attr("fit") = FitObject(r.fit);
    result.attr("validation_rms") = r.validationRms;
    result.attr("validation_max") = r.validationMax;
    result.attr("validation_pairs") = r.validationPairs;
    result.attr("frames_used") = r.framesUsed;
    result.attr("frames_read") = r.framesRead;
    result.attr("camera_size") = SizePair(r.cameraSize);
    result.attr("pairs") = PairsArray(r.detection.pairs);
    result.attr("mirrored") = r.detection.mirrored;
    result.attr("coverage") = r.detection.coverage;
    result.attr("detection") = r.detection;
    return result;
}

void BindPatternDetection(py::module_& m) {
    py::class_<PatternDetection>(m, "PatternDetection",
                                 "What a frame shows of a pattern. numpy.asarray(detection) is its pairs.")
        .def_readonly("ok", &PatternDetection::ok, "corners were found")
        .def_readonly("reason", &PatternDetection::reason, "why there are no pairs")
        .def_property_readonly("pairs", [](const PatternDetection& d) { return PairsArray(d.pairs); },
                               "(N, 4) float64 rows x, y (camera) X, Y (display)")
        .def_property_readonly("corners",
                               [](const PatternDetection& d) {
                                   py::array_t<int> corners(static_cast<py::ssize_t>(d.corners.size()));
                                   std::copy(d.corners.begin(), d.corners.end(), corners.mutable_data());
                                   return corners;
                               })
        .def_readonly("markers", &PatternDetection::markers)
        .def_readonly("mirrored", &PatternDetection::mirrored)
        .def_readonly("coverage", &PatternDetection::coverage, "share of the display inside the corners' outline")
        .def_readonly("pattern_coverage", &PatternDetection::patternCoverage, "share of the pattern seen")
        .def("__array__", [](const PatternDetection& d, const py::object&) { return PairsArray(d.pairs); },
             py::arg("dtype") = py::none())
        .def("__len__", [](const PatternDetection& d) { return d.pairs.size(); });
}

}  // namespace

void BindCamera(py::module_& m) {
    BindPatternDetection(m);
    m.def("calibration_pattern", &CalibrationPatternPy, py::arg("display"), py::arg("validation") = false,
          "The calibration pattern for a display=(W, H): an (H, W) uint8 picture to show full-screen "
          "(validation=True: the validation pattern). ValueError for a display no pattern fits.");
    const auto detect = [](const py::array& frame, std::pair<int, int> display, bool validation) {
        return Detect(frame, display, validation);
    };
    m.def("detect_calibration_pattern", detect, py::arg("frame"), py::arg("display"), py::arg("validation") = false,
          "Finds the pattern in a camera frame ((H, W) grey, (H, W, 3) BGR or (H, W, 4) BGRA uint8): a "
          "PatternDetection (ok, reason, pairs, corners, markers, mirrored, coverage, pattern_coverage). "
          "ValueError for a display no pattern fits.");
    m.def(
        "detect_pattern",
        [detect](const py::array& frame, std::pair<int, int> display, bool validation) {
            Deprecated("detect_pattern() is now detect_calibration_pattern()");
            return detect(frame, display, validation);
        },
        py::arg("frame"), py::arg("display"), py::arg("validation") = false,
        "Deprecated: detect_calibration_pattern.");
    m.def("calibrate_with_camera", &CalibrateWithCameraPy, py::arg("capture"), py::arg("display"),
          py::arg("barrel") = true, py::arg("frames_to_combine") = 5, py::arg("max_frames") = 150,
          py::arg("lens") = true,
          "Calibrates through a camera: capture(shown) shows the (H, W) uint8 picture full-screen and returns the "
          "next camera frame (grey or BGR uint8; None ends it). Returns ok, reason, fit (what fit_calibration "
          "returns; its expected error is at least the validation's), validation_rms, validation_max, "
          "validation_pairs, frames_used, frames_read, camera_size, pairs, mirrored, coverage, detection.");
}

}  // namespace quarvel::python
