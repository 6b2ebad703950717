// The touch options as in C++: BlobOptions, TrackerOptions and
// TouchCalibrationOptions, the blob options flattened into the other two.

#include <quarvel/touch.h>
#include <quarvel/touch_calibration.h>

#include "touch_support.h"

namespace quarvel::python {
namespace {

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

void BindTrackerOptions(py::module_& m) {
    using O = TrackerOptions;
    py::class_<O> tracker(m, "TrackerOptions", "The tracker's options; blob options are attributes of their own too.");
    tracker.def(py::init([](const py::kwargs& keywords) { return WithKeywords(O(), keywords, "TrackerOptions"); }))
        .def_readwrite("blobs", &O::blobs)
        .def_readwrite("max_jump", &O::maxJump,
                       "camera pixels a contact may land from its prediction; 0: 1.5 finger diameters plus its speed")
        .def_readwrite("confirm_next_frame", &O::confirmNextFrame,
                       "a new blob becomes a contact in the frame after it appears")
        .def_readwrite("coast_frames", &O::coastFrames,
                       "frames a contact may go unseen and stay down ('coasting'), where its motion predicts it")
        .def_readwrite("absorb_seconds", &O::absorbSeconds,
                       "a contact that stays within absorb_pixels this long lifts and becomes background; 0: never")
        .def_readwrite("absorb_pixels", &O::absorbPixels)
        .def_readwrite("frames_per_second", &O::framesPerSecond, "the frames' times when track gets none")
        .def_readwrite("follow_drift", &O::followDrift,
                       "compose the camera's measured motion (TouchTracker.drift) into the correction");
    FlattenBlobs(tracker, &O::blobs);
}

void BindTouchCalibrationOptions(py::module_& m) {
    using O = TouchCalibrationOptions;
    py::class_<O> calibration(m, "TouchCalibrationOptions", "The touch calibration's options, as in C++.");
    calibration
        .def(py::init([](py::kwargs keywords) {
            TakeOldNames(keywords, "TouchCalibrationOptions",
                         {{"hold", "hold_seconds"}, {"still", "still_pixels"}, {"fps", "frames_per_second"}});
            return WithKeywords(O(), keywords, "TouchCalibrationOptions");
        }))
        .def_readwrite("columns", &O::columns)
        .def_readwrite("rows", &O::rows)
        .def_readwrite("display_width", &O::displayWidth)
        .def_readwrite("display_height", &O::displayHeight)
        .def_readwrite("blobs", &O::blobs)
        .def_readwrite("hold_seconds", &O::holdSeconds, "a touch counts once it has held still this long")
        .def_readwrite("still_pixels", &O::stillPixels, "camera pixels it may wander from its mean while held")
        .def_readwrite("frames_per_second", &O::framesPerSecond, "the frames' times when feed is given none")
        .def_readwrite("lift_wait_seconds", &O::liftWaitSeconds,
                       "what stays in view this long after a measurement becomes background")
        .def_readwrite("barrel", &O::barrel)
        .def_readwrite("lens", &O::lens, "a lens stage where the targets support one")
        .def_readwrite("outlier_pixels", &O::outlierPixels);
    FlattenBlobs(calibration, &O::blobs);
}

}  // namespace

void TakeOldNames(py::kwargs& keywords, const char* where,
                  std::initializer_list<std::pair<const char*, const char*>> renamed) {
    for (const auto& [old, now] : renamed) {
        if (keywords.contains(old)) {
            Deprecated(std::string(where) + "(" + old + "=...) is now " + now + "=...");
            keywords[now] = keywords.attr("pop")(old);
        }
    }
}

void BindTouchOptions(py::module_& m) {
    py::class_<BlobOptions> blobs(m, "BlobOptions", "How blobs are told from the background, as in C++.");
    blobs.def(py::init([](const py::kwargs& keywords) { return WithKeywords(BlobOptions(), keywords, "BlobOptions"); }));
    EachBlobOption([&](const char* name, auto field, const char* doc) { blobs.def_readwrite(name, field, doc); });
    BindTrackerOptions(m);
    BindTouchCalibrationOptions(m);
}

}  // namespace quarvel::python
