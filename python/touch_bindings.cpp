// The module's touch side: the tracker and calibration by touch, with
// their options as in C++.
//
// A TouchTracker or TouchCalibration may be shared between Python threads:
// each object has a lock of its own, taken with the GIL released, so one
// object's frames are taken one at a time while other objects (another
// camera's tracker) run in parallel.

#include <cmath>
#include <memory>
#include <mutex>
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

// A library object with the lock its Python users share.
template <typename T>
struct Shared {
    template <typename... Args>
    explicit Shared(Args&&... args) : object(std::forward<Args>(args)...) {}
    T object;
    std::mutex busy;
};
using SharedTracker = Shared<TouchTracker>;

// `read(object)` under the object's lock, the GIL released meanwhile.
template <typename T, typename Read>
auto Locked(Shared<T>& shared, Read read) {
    py::gil_scoped_release unlocked;
    const std::lock_guard<std::mutex> lock(shared.busy);
    return read(shared.object);
}
using SharedCalibration = Shared<TouchCalibration>;

// Sets each keyword argument on `options` as the attribute of that name;
// TypeError for a name it does not have.
template <typename Options>
Options WithKeywords(Options options, const py::kwargs& keywords, const char* what) {
    py::object target = py::cast(options);
    for (const auto& [name, value] : keywords) {
        const std::string key = py::str(name);
        if (!py::hasattr(target, key.c_str())) {
            throw py::type_error(std::string(what) + " has no option '" + key + "'");
        }
        py::setattr(target, key.c_str(), value);
    }
    return target.cast<Options>();
}

// Blob options on a class that holds them as `blobs`, flattened into its
// own attributes (tracker.threshold is tracker.blobs.threshold).
template <typename Class, typename Holder, typename Value>
void FlattenOne(Class& c, BlobOptions Holder::*blobs, const char* name, Value BlobOptions::*field, const char* doc) {
    c.def_property(
        name, [blobs, field](const Holder& h) { return (h.*blobs).*field; },
        [blobs, field](Holder& h, Value v) { (h.*blobs).*field = v; }, doc);
}

// The blob options' Python names and their documentation.
template <typename Bind>
void EachBlobOption(Bind&& bind) {
    bind("background_frames", &BlobOptions::backgroundFrames, "frames averaged into the background once it has settled");
    bind("settle_change", &BlobOptions::settleChange,
         "the mean brightness of the last 6 frames within this share of the 6 before: settled");
    bind("threshold", &BlobOptions::threshold, "grey levels above the background; 0: from the noise measured");
    bind("finger_diameter", &BlobOptions::fingerDiameter, "camera pixels; 0: the frame's longer side / 64");
    bind("min_area", &BlobOptions::minArea, "camera pixels: smaller is noise; 0: a fifth of a finger's area");
    bind("max_area", &BlobOptions::maxArea, "camera pixels: larger is not a finger; 0: five fingers' area");
    bind("adaptation", &BlobOptions::adaptation, "share of the background renewed each frame where the frame is brighter");
    bind("darkening", &BlobOptions::darkening, "share of the background renewed each frame where the frame is darker");
    bind("follow_gain", &BlobOptions::followGain, "follow the camera's gain and exposure");
    bind("relearn_frames", &BlobOptions::relearnFrames, "frames after which a region larger than max_area is background");
    bind("quiet_frames", &BlobOptions::quietFrames, "frames no contact starts where such a region was");
    bind("max_blobs", &BlobOptions::maxBlobs, "blobs considered in a frame, the largest");
    bind("storm_specks", &BlobOptions::stormSpecks, "a frame with more specks than this starts no contact");
}

template <typename Class, typename Holder>
void FlattenBlobs(Class& c, BlobOptions Holder::*blobs) {
    EachBlobOption([&](const char* name, auto field, const char* doc) { FlattenOne(c, blobs, name, field, doc); });
}

py::list Track(SharedTracker& shared, const py::array& frame, std::optional<double> time) {
    const cv::Mat view = FrameView(frame);
    std::vector<Contact> contacts;
    FrameStatus status;
    {
        py::gil_scoped_release unlocked;
        const std::lock_guard<std::mutex> lock(shared.busy);
        contacts = shared.object.Track(view, time ? *time : std::nan(""));
        status = shared.object.frameStatus();
    }
    if (!status.ok) {
        throw py::value_error("the frame was refused: " + status.reason);
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
    status.attr("waited") = s.waited;
    status.attr("absorbed") = s.absorbed;
    return status;
}

std::unique_ptr<SharedTracker> MakeTracker(const Model& model, const std::optional<TrackerOptions>& options,
                                           const py::kwargs& keywords) {
    const TrackerOptions o = WithKeywords(options ? *options : TrackerOptions(), keywords, "TrackerOptions");
    return std::make_unique<SharedTracker>(model, o);
}

// The calibration options from the old keyword names (hold, still, fps),
// which still work but warn.
void TakeOldNames(py::kwargs& keywords) {
    const std::pair<const char*, const char*> renamed[] = {
        {"hold", "hold_seconds"}, {"still", "still_pixels"}, {"fps", "frames_per_second"}};
    for (const auto& [old, now] : renamed) {
        if (keywords.contains(old)) {
            PyErr_WarnEx(PyExc_DeprecationWarning,
                         (std::string("TouchCalibration(") + old + "=...) is now " + now + "=...").c_str(), 1);
            keywords[now] = keywords.attr("pop")(old);
        }
    }
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

    py::class_<BlobOptions> blobs(m, "BlobOptions", "How blobs are told from the background, as in C++.");
    blobs.def(py::init([](const py::kwargs& keywords) { return WithKeywords(BlobOptions(), keywords, "BlobOptions"); }));
    EachBlobOption([&](const char* name, auto field, const char* doc) { blobs.def_readwrite(name, field, doc); });

    py::class_<FrameStatus>(m, "FrameStatus", "How the tracker took its last frame.")
        .def_readonly("ok", &FrameStatus::ok)
        .def_readonly("reason", &FrameStatus::reason, "why it was refused; empty when ok")
        .def_readonly("repeated", &FrameStatus::repeated, "the last frame again: nothing changed")
        .def_readonly("lost", &FrameStatus::lost, "not the scene: the contacts coasted through it");

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

    py::class_<TrackerOptions> tracker(m, "TrackerOptions",
                                       "The tracker's options; blob options are attributes of their own too.");
    tracker
        .def(py::init([](const py::kwargs& keywords) {
            return WithKeywords(TrackerOptions(), keywords, "TrackerOptions");
        }))
        .def_readwrite("blobs", &TrackerOptions::blobs)
        .def_readwrite("max_jump", &TrackerOptions::maxJump,
                       "camera pixels a contact may land from its prediction; 0: 1.5 finger diameters plus its speed")
        .def_readwrite("confirm_next_frame", &TrackerOptions::confirmNextFrame,
                       "a new blob becomes a contact in the frame after it appears")
        .def_readwrite("coast_frames", &TrackerOptions::coastFrames,
                       "frames a contact may go unseen and stay down, where its motion predicts it")
        .def_readwrite("absorb_seconds", &TrackerOptions::absorbSeconds,
                       "a contact that stays within absorb_pixels this long lifts and becomes background; 0: never")
        .def_readwrite("absorb_pixels", &TrackerOptions::absorbPixels)
        .def_readwrite("frames_per_second", &TrackerOptions::framesPerSecond, "the frames' times when track gets none");
    FlattenBlobs(tracker, &TrackerOptions::blobs);

    py::class_<TouchCalibrationOptions> calibration(m, "TouchCalibrationOptions",
                                                    "The touch calibration's options, as in C++.");
    calibration
        .def(py::init([](py::kwargs keywords) {
            TakeOldNames(keywords);
            return WithKeywords(TouchCalibrationOptions(), keywords, "TouchCalibrationOptions");
        }))
        .def_readwrite("columns", &TouchCalibrationOptions::columns)
        .def_readwrite("rows", &TouchCalibrationOptions::rows)
        .def_readwrite("display_width", &TouchCalibrationOptions::displayWidth)
        .def_readwrite("display_height", &TouchCalibrationOptions::displayHeight)
        .def_readwrite("blobs", &TouchCalibrationOptions::blobs)
        .def_readwrite("hold_seconds", &TouchCalibrationOptions::holdSeconds,
                       "a touch counts once it has held still this long")
        .def_readwrite("still_pixels", &TouchCalibrationOptions::stillPixels,
                       "camera pixels it may wander from its mean while held")
        .def_readwrite("frames_per_second", &TouchCalibrationOptions::framesPerSecond,
                       "the frames' times when feed is given none")
        .def_readwrite("lift_wait_seconds", &TouchCalibrationOptions::liftWaitSeconds,
                       "what stays in view this long after a measurement becomes background")
        .def_readwrite("barrel", &TouchCalibrationOptions::barrel)
        .def_readwrite("lens", &TouchCalibrationOptions::lens, "a lens stage where the targets support one")
        .def_readwrite("outlier_pixels", &TouchCalibrationOptions::outlierPixels);
    FlattenBlobs(calibration, &TouchCalibrationOptions::blobs);

    py::class_<SharedTracker>(m, "TouchTracker",
                              "Fingers in camera frames as contacts on the display, through a calibration. Safe to "
                              "share between threads (one frame at a time).")
        .def(py::init([](const Quarvel& calibration, const std::optional<TrackerOptions>& options,
                         const py::kwargs& keywords) { return MakeTracker(calibration.GetModel(), options, keywords); }),
             py::arg("calibration"), py::arg("options") = py::none(),
             "TouchTracker(quarvel, options=None, **option): tracks through a loaded Quarvel's calibration; "
             "keywords set TrackerOptions attributes (threshold=25, max_area=900, ...).")
        .def(py::init([](const Model& model, const std::optional<TrackerOptions>& options,
                         const py::kwargs& keywords) { return MakeTracker(model, options, keywords); }),
             py::arg("model"), py::arg("options") = py::none(), "Tracks through a Model.")
        .def(py::init([](const CalibrationParams& params, std::pair<int, int> display,
                         const std::optional<TrackerOptions>& options, const py::kwargs& keywords) {
                 return MakeTracker(Model(params, cv::Size(display.first, display.second)), options, keywords);
             }),
             py::arg("params"), py::arg("display"), py::arg("options") = py::none(),
             "Tracks through calibration parameters set up for display=(W, H).")
        .def("track", &Track, py::arg("frame"), py::arg("time") = py::none(),
             "The contacts of the next camera frame ((H, W) grey, (H, W, 3) BGR or (H, W, 4) BGRA uint8), taken "
             "at `time` seconds (default: frames_per_second): those down or moving, then those that lifted. Empty "
             "while the background is learned. ValueError for a frame the tracker refuses (TypeError for one that "
             "is not uint8); the contacts coast through it.")
        .def(
            "lift_all",
            [](SharedTracker& t) {
                std::vector<Contact> ups;
                {
                    py::gil_scoped_release unlocked;
                    const std::lock_guard<std::mutex> lock(t.busy);
                    ups = t.object.LiftAll();
                }
                py::list out;
                for (const Contact& c : ups) {
                    out.append(c);
                }
                return out;
            },
            "Every contact still down, lifted ('up' at its last place): for a host that stops.")
        .def_property_readonly(
            "frame_status", [](SharedTracker& t) { return Locked(t, [](const TouchTracker& o) { return o.frameStatus(); }); })
        .def_property_readonly(
            "background", [](SharedTracker& t) { return Locked(t, [](const TouchTracker& o) { return o.background(); }); })
        .def_property_readonly("learning",
                               [](SharedTracker& t) { return Locked(t, [](const TouchTracker& o) { return o.learning(); }); })
        .def_property_readonly("frames",
                               [](SharedTracker& t) { return Locked(t, [](const TouchTracker& o) { return o.frames(); }); })
        .def_property_readonly("options", [](const SharedTracker& t) { return t.object.options(); })
        .def_property_readonly("model", [](const SharedTracker& t) { return t.object.calibration(); });

    py::class_<SharedCalibration>(m, "TouchCalibration",
                                  "Calibration by touch: targets shown one at a time, each touched and held. Safe to "
                                  "share between threads (one frame at a time).")
        .def(py::init([](std::pair<int, int> targets, std::pair<int, int> display,
                         const std::optional<TouchCalibrationOptions>& options, py::kwargs keywords) {
                 TakeOldNames(keywords);
                 TouchCalibrationOptions o =
                     WithKeywords(options ? *options : TouchCalibrationOptions(), keywords, "TouchCalibrationOptions");
                 o.columns = targets.first;
                 o.rows = targets.second;
                 o.displayWidth = display.first;
                 o.displayHeight = display.second;
                 return std::make_unique<SharedCalibration>(o);
             }),
             py::arg("targets"), py::arg("display"), py::arg("options") = py::none(),
             "TouchCalibration(targets=(C, R), display=(W, H), options=None, **option): C x R targets on a grid "
             "inset 1/8 of the display; keywords set TouchCalibrationOptions attributes (hold_seconds, "
             "still_pixels, frames_per_second, threshold, ...).")
        .def(
            "current_target",
            [](SharedCalibration& t) -> std::optional<std::pair<double, double>> {
                std::optional<cv::Point2d> target;
                {
                    py::gil_scoped_release unlocked;
                    const std::lock_guard<std::mutex> lock(t.busy);
                    target = t.object.CurrentTarget();
                }
                if (!target) {
                    return std::nullopt;
                }
                return std::make_pair(target->x, target->y);
            },
            "The (X, Y) display position to show now, or None when every target is measured.")
        .def(
            "feed",
            [](SharedCalibration& t, const py::array& frame, std::optional<double> time) {
                const cv::Mat view = FrameView(frame);
                TouchCalibrationStatus status;
                {
                    py::gil_scoped_release unlocked;
                    const std::lock_guard<std::mutex> lock(t.busy);
                    status = t.object.Feed(view, time ? *time : std::nan(""));
                }
                return Status(status);
            },
            py::arg("frame"), py::arg("time") = py::none(),
            "The next camera frame, taken at `time` seconds (default: frames_per_second). Returns phase "
            "('learning', 'waiting_lift', 'waiting_touch', 'holding', 'measured', 'done'), target, held, camera.")
        .def(
            "result",
            [](SharedCalibration& t) {
                FitResult fit;
                {
                    py::gil_scoped_release unlocked;
                    const std::lock_guard<std::mutex> lock(t.busy);
                    fit = t.object.Result();
                }
                return FitObject(fit);
            },
            "What fit_calibration returns, for the measurements and the frames' camera size.")
        .def_property_readonly("targets",
                               [](SharedCalibration& t) {
                                   py::list out;
                                   // Laid out once, never changed: no lock needed.
                                   for (const cv::Point2d& p : t.object.targets()) {
                                       out.append(py::make_tuple(p.x, p.y));
                                   }
                                   return out;
                               })
        .def_property_readonly("measurements", [](SharedCalibration& t) {
            std::vector<PointPair> pairs;
            {
                py::gil_scoped_release unlocked;
                const std::lock_guard<std::mutex> lock(t.busy);
                pairs = t.object.measurements();
            }
            return PairsArray(pairs);
        });
}

}  // namespace quarvel::python
