// The tracker as in C++: a TouchTracker takes frames and gives TouchFrames
// (the frame's number, time, status and contacts), named as the tool's
// JSON names them.

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include <quarvel/quarvel.h>
#include <quarvel/touch.h>

#include "touch_support.h"

namespace quarvel::python {
namespace {

// The tracker, and the status of the last frame it took (for the
// deprecated frame_status).
struct SharedTracker : Shared<TouchTracker> {
    using Shared::Shared;
    FrameStatus last;
};

std::unique_ptr<SharedTracker> MakeTracker(const Model& model, const std::optional<TrackerOptions>& options,
                                           const py::kwargs& keywords) {
    const TrackerOptions o = WithKeywords(options ? *options : TrackerOptions(), keywords, "TrackerOptions");
    return std::make_unique<SharedTracker>(model, o);
}

TouchFrame Track(SharedTracker& shared, const py::array& frame, std::optional<double> time) {
    const cv::Mat view = FrameView(frame);
    py::gil_scoped_release unlocked;
    const std::lock_guard<std::mutex> lock(shared.busy);
    const TouchFrame& out = shared.object.Track(view, time ? *time : std::nan(""));
    shared.last = out.status;
    return out;
}

void BindContact(py::module_& m) {
    py::class_<Contact>(m, "Contact", "A finger on the surface in one frame.")
        .def_readonly("id", &Contact::id, "stable while the finger stays down; never reused")
        .def_readonly("x", &Contact::x, "display pixels")
        .def_readonly("y", &Contact::y)
        .def_readonly("cx", &Contact::cx, "camera pixels")
        .def_readonly("cy", &Contact::cy)
        .def_readonly("area", &Contact::area, "camera pixels above the threshold")
        .def_property_readonly("state", [](const Contact& c) { return ContactStateName(c.state); },
                               "'down', 'move', 'coasting' or 'up'")
        .def("__repr__", [](const Contact& c) {
            return "Contact(id=" + std::to_string(c.id) + ", x=" + std::to_string(c.x) + ", y=" + std::to_string(c.y) +
                   ", state='" + ContactStateName(c.state) + "')";
        });
    py::class_<FrameStatus>(m, "FrameStatus", "How the tracker took a frame.")
        .def_readonly("ok", &FrameStatus::ok)
        .def_readonly("reason", &FrameStatus::reason, "why it was refused; empty when ok")
        .def_readonly("repeated", &FrameStatus::repeated, "the last frame again: nothing changed")
        .def_readonly("lost", &FrameStatus::lost, "not the scene: the contacts coasted through it");
    py::class_<TouchFrame>(m, "TouchFrame",
                           "What a frame gave: frame, t, status and contacts; it iterates over its contacts.")
        .def_readonly("frame", &TouchFrame::frame, "frames given to the tracker before this one")
        .def_readonly("t", &TouchFrame::t, "its time, seconds")
        .def_readonly("status", &TouchFrame::status)
        .def_readonly("contacts", &TouchFrame::contacts)
        .def("__len__", [](const TouchFrame& f) { return f.size(); })
        .def("__getitem__",
             [](const TouchFrame& f, py::ssize_t i) {
                 const auto n = static_cast<py::ssize_t>(f.size());
                 if (i < -n || i >= n) {
                     throw py::index_error("no contact " + std::to_string(i));
                 }
                 return f.contacts[static_cast<std::size_t>(i < 0 ? i + n : i)];
             })
        .def("__iter__", [](const TouchFrame& f) { return py::make_iterator(f.begin(), f.end()); },
             py::keep_alive<0, 1>());
}

void BindDriftStatus(py::module_& m) {
    py::class_<DriftStatus>(m, "DriftStatus", "How far the camera moved since its background was first learned.")
        .def_readonly("measured", &DriftStatus::measured)
        .def_readonly("dx", &DriftStatus::dx, "the image centre's shift, camera pixels")
        .def_readonly("dy", &DriftStatus::dy)
        .def_readonly("degrees", &DriftStatus::degrees, "the turn, counter-clockwise as the image is shown")
        .def_readonly("camera", &DriftStatus::camera, "the largest shift of a point of the image, camera pixels")
        .def_readonly("display", &DriftStatus::display, "what that does to a touch, display pixels")
        .def_readonly("frame", &DriftStatus::frame, "the frame it was measured on");
}

void BindBackgroundStatus(py::module_& m) {
    py::class_<BackgroundStatus>(m, "BackgroundStatus", "What the tracker's background learned, and did since.")
        .def_readonly("learned", &BackgroundStatus::learned)
        .def_readonly("noise", &BackgroundStatus::noise, "sensor noise, grey levels (one standard deviation)")
        .def_readonly("threshold", &BackgroundStatus::threshold, "the threshold in use")
        .def_readonly("min_area", &BackgroundStatus::minArea)
        .def_readonly("max_area", &BackgroundStatus::maxArea)
        .def_readonly("gain", &BackgroundStatus::gain, "the last frame against the background learned")
        .def_readonly("offset", &BackgroundStatus::offset)
        .def_readonly("settling", &BackgroundStatus::settling, "frames seen before the picture settled")
        .def_readonly("relearned", &BackgroundStatus::relearned, "regions taken in all at once")
        .def_readonly("absorbed", &BackgroundStatus::absorbed, "still blobs taken in");
}

}  // namespace

void BindTracker(py::module_& m) {
    BindContact(m);
    BindBackgroundStatus(m);
    BindDriftStatus(m);
    py::class_<SharedTracker>(m, "TouchTracker",
                              "Fingers in camera frames as contacts on the display, through a calibration. Safe to "
                              "share between threads (one frame at a time).")
        .def(py::init([](const Quarvel& calibration, const std::optional<TrackerOptions>& options,
                         const py::kwargs& keywords) { return MakeTracker(calibration.GetModel(), options, keywords); }),
             py::arg("calibration"), py::arg("options") = py::none(),
             "TouchTracker(quarvel, options=None, **option): tracks through a loaded Quarvel's calibration; "
             "keywords set TrackerOptions attributes (threshold=25, max_area=900, ...).")
        .def(py::init(&MakeTracker), py::arg("model"), py::arg("options") = py::none(), "Tracks through a Model.")
        .def(py::init([](const CalibrationParams& params, std::pair<int, int> display,
                         const std::optional<TrackerOptions>& options, const py::kwargs& keywords) {
                 return MakeTracker(Model(params, cv::Size(display.first, display.second)), options, keywords);
             }),
             py::arg("params"), py::arg("display"), py::arg("options") = py::none(),
             "Tracks through calibration parameters set up for display=(W, H).")
        .def("track", &Track, py::arg("frame"), py::arg("time") = py::none(),
             "The next camera frame ((H, W) grey, (H, W, 3) BGR or (H, W, 4) BGRA uint8), taken at `time` seconds "
             "(default: frames_per_second): a TouchFrame whose contacts are those down, moving or coasting, then "
             "those that lifted; none while the background is learned. A frame the tracker refuses says why in "
             "its status, and the contacts coast through it (TypeError for one that is not uint8).")
        .def(
            "lift_all", [](SharedTracker& t) { return Locked(t, [](TouchTracker& o) { return o.LiftAll(); }); },
            "Every contact still down, lifted ('up' at its last place), as a TouchFrame: for a host that stops.")
        .def_property_readonly("frame_status",
                               [](SharedTracker& t) {
                                   Deprecated("TouchTracker.frame_status is now the status of what track() returns");
                                   return Locked(t, [&t](TouchTracker&) { return t.last; });
                               })
        .def_property_readonly("background",
                               [](SharedTracker& t) { return Locked(t, [](TouchTracker& o) { return o.background(); }); })
        .def_property_readonly("drift",
                               [](SharedTracker& t) { return Locked(t, [](TouchTracker& o) { return o.drift(); }); })
        .def_property_readonly("learning",
                               [](SharedTracker& t) { return Locked(t, [](TouchTracker& o) { return o.learning(); }); })
        .def_property_readonly("frames",
                               [](SharedTracker& t) { return Locked(t, [](TouchTracker& o) { return o.frames(); }); })
        .def_property_readonly("options", [](const SharedTracker& t) { return t.object.options(); })
        .def(
            "recalibrate",
            [](SharedTracker& t, const Model& model) {
                Locked(t, [&model](TouchTracker& o) { o.Recalibrate(model); });
            },
            py::arg("model"),
            "A new calibration (Model) from the next frame on: the contacts keep their ids; the drift is measured "
            "from the camera's place now.")
        .def_property_readonly("model",
                               [](SharedTracker& t) { return Locked(t, [](TouchTracker& o) { return o.calibration(); }); });
}

}  // namespace quarvel::python
