// Calibration by touch as in C++: targets shown one at a time, each
// touched and held.

#include <cmath>
#include <memory>
#include <optional>

#include <quarvel/touch_calibration.h>

#include "touch_support.h"

namespace quarvel::python {
namespace {

using SharedCalibration = Shared<TouchCalibration>;

py::object StatusObject(const TouchCalibrationStatus& s) {
    py::object status = Namespace();
    status.attr("phase") = PhaseName(s.phase);
    status.attr("target") = s.target;
    status.attr("held") = s.held;
    status.attr("camera") = PointPairOf(s.camera);
    status.attr("waited") = s.waited;
    status.attr("absorbed") = s.absorbed;
    return status;
}

std::unique_ptr<SharedCalibration> MakeCalibration(std::pair<int, int> targets, std::pair<int, int> display,
                                                   const std::optional<TouchCalibrationOptions>& options,
                                                   py::kwargs keywords) {
    TakeOldNames(keywords, "TouchCalibration",
                 {{"hold", "hold_seconds"}, {"still", "still_pixels"}, {"fps", "frames_per_second"}});
    TouchCalibrationOptions o =
        WithKeywords(options ? *options : TouchCalibrationOptions(), keywords, "TouchCalibrationOptions");
    o.columns = targets.first;
    o.rows = targets.second;
    o.displayWidth = display.first;
    o.displayHeight = display.second;
    return std::make_unique<SharedCalibration>(o);
}

}  // namespace

void BindTouchCalibration(py::module_& m) {
    py::class_<SharedCalibration>(m, "TouchCalibration",
                                  "Calibration by touch: targets shown one at a time, each touched and held. Safe to "
                                  "share between threads (one frame at a time).")
        .def(py::init(&MakeCalibration), py::arg("targets"), py::arg("display"), py::arg("options") = py::none(),
             "TouchCalibration(targets=(C, R), display=(W, H), options=None, **option): C x R targets on a grid "
             "inset 1/8 of the display; keywords set TouchCalibrationOptions attributes (hold_seconds, "
             "still_pixels, frames_per_second, threshold, ...).")
        .def(
            "current_target",
            [](SharedCalibration& t) -> std::optional<std::pair<double, double>> {
                const std::optional<cv::Point2d> target =
                    Locked(t, [](TouchCalibration& o) { return o.CurrentTarget(); });
                if (!target) {
                    return std::nullopt;
                }
                return PointPairOf(*target);
            },
            "The (X, Y) display position to show now, or None when every target is measured.")
        .def(
            "feed",
            [](SharedCalibration& t, const py::array& frame, std::optional<double> time) {
                const cv::Mat view = FrameView(frame);
                return StatusObject(
                    Locked(t, [&](TouchCalibration& o) { return o.Feed(view, time ? *time : std::nan("")); }));
            },
            py::arg("frame"), py::arg("time") = py::none(),
            "The next camera frame, taken at `time` seconds (default: frames_per_second). Returns phase "
            "('learning', 'waiting_lift', 'waiting_touch', 'holding', 'measured', 'done'), target, held, camera.")
        .def(
            "result", [](SharedCalibration& t) { return FitObject(Locked(t, [](TouchCalibration& o) { return o.Result(); })); },
            "What fit_calibration returns, for the measurements and the frames' camera size.")
        .def_property_readonly("targets",
                               [](SharedCalibration& t) {
                                   py::list out;
                                   // Laid out once, never changed: no lock needed.
                                   for (const cv::Point2d& p : t.object.targets()) {
                                       out.append(PointPairOf(p));
                                   }
                                   return out;
                               })
        .def_property_readonly("measurements", [](SharedCalibration& t) {
            return PairsArray(Locked(t, [](TouchCalibration& o) { return o.measurements(); }));
        });
}

}  // namespace quarvel::python
