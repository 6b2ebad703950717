// The fusion as in C++: each camera's TouchFrames in, the surface's out.

#include <memory>
#include <string>

#include <quarvel/fusion.h>
#include <quarvel/quarvel.h>

#include "touch_support.h"

namespace quarvel::python {

void BindFusion(py::module_& m) {
    py::class_<FusionOptions>(m, "FusionOptions", "How contacts of several cameras are joined.")
        .def(py::init<>())
        .def_readwrite("join_distance", &FusionOptions::joinDistance,
                       "display pixels; 0: three quarters of a finger as the cameras see it")
        .def_readwrite("silent_seconds", &FusionOptions::silentSeconds,
                       "a camera silent this long has gone: the fingers only it saw lift")
        .def_readwrite("edge_fingers", &FusionOptions::edgeFingers,
                       "finger diameters inside its image from which a contact counts fully");
    py::class_<FusionCamera>(m, "FusionCamera", "A camera the fusion takes contacts from.")
        .def_readonly("name", &FusionCamera::name)
        .def_property_readonly("image", [](const FusionCamera& c) { return py::make_tuple(c.image.width, c.image.height); })
        .def_readonly("finger_diameter", &FusionCamera::fingerDiameter, "camera pixels")
        .def_readonly("finger_on_display", &FusionCamera::fingerOnDisplay, "display pixels")
        .def_readonly("last_time", &FusionCamera::lastTime, "seconds; NaN before its first frame")
        .def_readonly("frames", &FusionCamera::frames);
    py::class_<Shared<TouchFusion>>(m, "TouchFusion",
                                    "One surface from several cameras: push each camera's TouchFrame, fuse at a time.")
        .def(py::init([](const std::optional<FusionOptions>& options, const py::kwargs& keywords) {
                 return std::make_unique<Shared<TouchFusion>>(
                     WithKeywords(options ? *options : FusionOptions(), keywords, "FusionOptions"));
             }),
             py::arg("options") = py::none(), "TouchFusion(options=None, **option)")
        .def(
            "add_camera",
            [](Shared<TouchFusion>& f, const std::string& name, const Quarvel& calibration, double finger) {
                const Model model = calibration.GetModel();
                return Locked(f, [&](TouchFusion& o) { return o.AddCamera(name, model, finger); });
            },
            py::arg("name"), py::arg("calibration"), py::arg("finger_diameter") = 0.0,
            "A camera whose contacts come through a loaded Quarvel's calibration; its index for push.")
        .def(
            "add_camera",
            [](Shared<TouchFusion>& f, const std::string& name, const Model& model, double finger) {
                return Locked(f, [&](TouchFusion& o) { return o.AddCamera(name, model, finger); });
            },
            py::arg("name"), py::arg("model"), py::arg("finger_diameter") = 0.0, "The same through a Model.")
        .def(
            "push",
            [](Shared<TouchFusion>& f, int camera, const TouchFrame& frame) {
                return Locked(f, [&](TouchFusion& o) { return o.Push(camera, frame); });
            },
            py::arg("camera"), py::arg("frame"),
            "What that camera's tracker gave (taken at frame.t); False for a camera not added or a time not finite.")
        .def(
            "restart", [](Shared<TouchFusion>& f, int camera) { Locked(f, [&](TouchFusion& o) { o.Restart(camera); }); },
            py::arg("camera"), "The camera started over: its contacts are forgotten.")
        .def(
            "fuse",
            [](Shared<TouchFusion>& f, double seconds) {
                return Locked(f, [&](TouchFusion& o) { return o.Fuse(seconds); });
            },
            py::arg("time"), "The surface's contacts at `time` seconds, as a TouchFrame.")
        .def(
            "lift_all", [](Shared<TouchFusion>& f) { return Locked(f, [](TouchFusion& o) { return o.LiftAll(); }); },
            "Every contact still down, lifted.")
        .def_property_readonly(
            "cameras", [](Shared<TouchFusion>& f) { return Locked(f, [](TouchFusion& o) { return o.cameras(); }); })
        .def_property_readonly("options", [](const Shared<TouchFusion>& f) { return f.object.options(); });
}

}  // namespace quarvel::python
