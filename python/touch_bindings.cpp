// The module's touch side: the tracker and calibration by touch.

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include <quarvel/quarvel.h>
#include <quarvel/touch.h>
#include <quarvel/touch_calibration.h>

#include "module_support.h"

namespace quarvel::python {
namespace {

const char* PhaseName(TouchCalibrationStatus::Phase phase) {
    switch (phase) {
        case TouchCalibrationStatus::Learning: return "learning";
        case TouchCalibrationStatus::WaitingLift: return "waiting_lift";
        case TouchCalibrationStatus::WaitingTouch: return "waiting_touch";
        case TouchCalibrationStatus::Holding: return "holding";
        case TouchCalibrationStatus::Measured: return "measured";
        case TouchCalibrationStatus::Done: return "done";
    }
    return "done";
}

BlobOptions Blobs(int backgroundFrames, double threshold, double minArea, double maxArea, double adaptation) {
    BlobOptions b;
    b.backgroundFrames = backgroundFrames;
    b.threshold = threshold;
    b.minArea = minArea;
    b.maxArea = maxArea;
    b.adaptation = adaptation;
    return b;
}

std::unique_ptr<TouchTracker> MakeTracker(const Model& model, int backgroundFrames, double threshold, double minArea,
                                          double maxArea, double adaptation, double maxJump, bool confirmNextFrame) {
    TrackerOptions o;
    o.blobs = Blobs(backgroundFrames, threshold, minArea, maxArea, adaptation);
    o.maxJump = maxJump;
    o.confirmNextFrame = confirmNextFrame;
    return std::make_unique<TouchTracker>(model, o);
}

py::list Track(TouchTracker& tracker, const py::array& frame) {
    const cv::Mat view = FrameView(frame);
    std::vector<Contact> contacts;
    {
        py::gil_scoped_release unlocked;
        contacts = tracker.Track(view);
    }
    py::list out;
    for (const Contact& c : contacts) {
        out.append(c);
    }
    return out;
}

py::object Status(const TouchCalibrationStatus& s) {
    py::object status = py::module_::import("types").attr("SimpleNamespace")();
    status.attr("phase") = PhaseName(s.phase);
    status.attr("target") = s.target;
    status.attr("held") = s.held;
    status.attr("camera") = std::make_pair(s.camera.x, s.camera.y);
    return status;
}

}  // namespace

void BindTouch(py::module_& m) {
    py::class_<Contact>(m, "Contact", "A finger on the surface in one frame.")
        .def_readonly("id", &Contact::id, "stable while the finger stays down; never reused")
        .def_property_readonly("x", [](const Contact& c) { return c.display.x; }, "display pixels")
        .def_property_readonly("y", [](const Contact& c) { return c.display.y; })
        .def_property_readonly("cx", [](const Contact& c) { return c.camera.x; }, "camera pixels")
        .def_property_readonly("cy", [](const Contact& c) { return c.camera.y; })
        .def_readonly("area", &Contact::area, "camera pixels above the threshold")
        .def_property_readonly("state", [](const Contact& c) { return ContactStateName(c.state); },
                               "'down', 'move' or 'up'")
        .def("__repr__", [](const Contact& c) {
            return "Contact(id=" + std::to_string(c.id) + ", x=" + std::to_string(c.display.x) +
                   ", y=" + std::to_string(c.display.y) + ", state='" + ContactStateName(c.state) + "')";
        });

    py::class_<TouchTracker>(m, "TouchTracker",
                             "Fingers in camera frames as contacts on the display, through a calibration.")
        .def(py::init([](const Quarvel& calibration, int backgroundFrames, double threshold, double minArea,
                         double maxArea, double adaptation, double maxJump, bool confirmNextFrame) {
                 return MakeTracker(calibration.GetModel(), backgroundFrames, threshold, minArea, maxArea,
                                    adaptation, maxJump, confirmNextFrame);
             }),
             py::arg("calibration"), py::kw_only(), py::arg("background_frames") = 15, py::arg("threshold") = 20.0,
             py::arg("min_area") = 6.0, py::arg("max_area") = 2500.0, py::arg("adaptation") = 0.05,
             py::arg("max_jump") = 0.0, py::arg("confirm_next_frame") = true,
             "Tracks through a loaded Quarvel's calibration.")
        .def(py::init([](const CalibrationParams& params, std::pair<int, int> display, int backgroundFrames,
                         double threshold, double minArea, double maxArea, double adaptation, double maxJump,
                         bool confirmNextFrame) {
                 return MakeTracker(Model(params, cv::Size(display.first, display.second)), backgroundFrames,
                                    threshold, minArea, maxArea, adaptation, maxJump, confirmNextFrame);
             }),
             py::arg("params"), py::arg("display"), py::kw_only(), py::arg("background_frames") = 15,
             py::arg("threshold") = 20.0, py::arg("min_area") = 6.0, py::arg("max_area") = 2500.0,
             py::arg("adaptation") = 0.05, py::arg("max_jump") = 0.0, py::arg("confirm_next_frame") = true,
             "Tracks through calibration parameters set up for display=(W, H).")
        .def("track", &Track, py::arg("frame"),
             "The contacts of the next camera frame ((H, W) grey or (H, W, 3) BGR uint8): those down or moving, "
             "then those that lifted. Empty while the background is learned.")
        .def_property_readonly("learning", &TouchTracker::learning)
        .def_property_readonly("frames", &TouchTracker::frames);

    py::class_<TouchCalibration>(m, "TouchCalibration",
                                 "Calibration by touch: targets shown one at a time, each touched and held.")
        .def(py::init([](std::pair<int, int> targets, std::pair<int, int> display, double hold, double still,
                         double fps, int backgroundFrames, double threshold, double minArea, double maxArea,
                         bool barrel) {
                 TouchCalibrationOptions o;
                 o.columns = targets.first;
                 o.rows = targets.second;
                 o.displayWidth = display.first;
                 o.displayHeight = display.second;
                 o.holdSeconds = hold;
                 o.stillPixels = still;
                 o.framesPerSecond = fps;
                 o.blobs = Blobs(backgroundFrames, threshold, minArea, maxArea, BlobOptions().adaptation);
                 o.barrel = barrel;
                 return std::make_unique<TouchCalibration>(o);
             }),
             py::arg("targets"), py::arg("display"), py::kw_only(), py::arg("hold") = 0.4, py::arg("still") = 2.0,
             py::arg("fps") = 30.0, py::arg("background_frames") = 15, py::arg("threshold") = 20.0,
             py::arg("min_area") = 6.0, py::arg("max_area") = 2500.0, py::arg("barrel") = true,
             "targets=(C, R) on a grid inset 1/8 of display=(W, H).")
        .def(
            "current_target",
            [](const TouchCalibration& t) -> std::optional<std::pair<double, double>> {
                const auto target = t.CurrentTarget();
                if (!target) {
                    return std::nullopt;
                }
                return std::make_pair(target->x, target->y);
            },
            "The (X, Y) display position to show now, or None when every target is measured.")
        .def(
            "feed",
            [](TouchCalibration& t, const py::array& frame, std::optional<double> time) {
                const cv::Mat view = FrameView(frame);
                TouchCalibrationStatus status;
                {
                    py::gil_scoped_release unlocked;
                    status = t.Feed(view, time ? *time : std::nan(""));
                }
                return Status(status);
            },
            py::arg("frame"), py::arg("time") = py::none(),
            "The next camera frame, taken at `time` seconds (default: 30 frames a second). Returns phase "
            "('learning', 'waiting_lift', 'waiting_touch', 'holding', 'measured', 'done'), target, held, camera.")
        .def(
            "result", [](const TouchCalibration& t) { return FitObject(t.Result()); },
            "What fit_calibration returns, for the measurements and the frames' camera size.")
        .def_property_readonly("targets",
                               [](const TouchCalibration& t) {
                                   py::list out;
                                   for (const cv::Point2d& p : t.targets()) {
                                       out.append(py::make_tuple(p.x, p.y));
                                   }
                                   return out;
                               })
        .def_property_readonly("measurements",
                               [](const TouchCalibration& t) { return PairsArray(t.measurements()); });
}

}  // namespace quarvel::python
