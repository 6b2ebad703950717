#ifndef QUARVEL_FUSION_H
#define QUARVEL_FUSION_H
// One touch surface from several cameras: each camera's tracker finds its
// contacts and maps them to the display through its own calibration; the
// fusion joins them in display coordinates.
//
//   quarvel::TouchFusion fusion;
//   const int left = fusion.AddCamera("left", leftModel);
//   const int right = fusion.AddCamera("right", rightModel);
//   for (;;) {
//       fusion.Push(left, leftTracker.Track(leftFrame, t));
//       fusion.Push(right, rightTracker.Track(rightFrame, t));
//       for (const quarvel::Contact& c : fusion.Fuse(t))
//           Send(c.id, c.x, c.y, c.state);
//   }
//
// A finger two cameras see is one contact, at a mix of where each camera
// puts it, weighted by how fully each sees its blob: a blob cut by its
// image's edge (its centre pulled inwards) counts for almost nothing, so a
// finger crossing from one camera's view into the next keeps its id and
// does not jump. Contacts of one camera are never joined with each other:
// two fingers close together stay two. A camera's contacts are carried to
// the time asked for along their own motion, so cameras need not be in
// step. A camera that falls silent loses its contacts after silentSeconds;
// fingers another camera sees keep their ids.
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/export.h>
#include <quarvel/model.h>
#include <quarvel/touch.h>

namespace quarvel {

struct FusionOptions {
    // Contacts of two cameras closer than this (display pixels) are one
    // finger; 0: three quarters of a finger's diameter as the cameras see
    // it on the display (the larger of the two cameras').
    double joinDistance = 0.0;
    // A camera that has sent nothing for this long (seconds) has gone: its
    // contacts no longer count, and those no other camera sees lift.
    double silentSeconds = 0.5;
    // A contact counts fully once its centre is this many finger diameters
    // inside its image (fading to nothing at half a diameter, where its
    // blob is cut in two by the edge).
    double edgeFingers = 3.0;
};

// A camera the fusion takes contacts from.
struct FusionCamera {
    std::string name;
    cv::Size image;                // its frames' size, camera pixels
    double fingerDiameter = 0.0;   // camera pixels (0: the image's longer side / 64, as the tracker)
    double fingerOnDisplay = 0.0;  // that diameter on the display, display pixels, at the image's centre
    double lastTime = 0.0;         // the time of its last frame pushed (NaN: none yet)
    long long frames = 0;          // frames pushed
};

namespace detail {
class FusionState;
}

class QUARVEL_EXPORT TouchFusion {
public:
    explicit TouchFusion(const FusionOptions& options = FusionOptions());
    ~TouchFusion();
    TouchFusion(TouchFusion&&) noexcept;
    TouchFusion& operator=(TouchFusion&&) noexcept;
    TouchFusion(const TouchFusion&) = delete;
    TouchFusion& operator=(const TouchFusion&) = delete;

    // A camera whose contacts come through `calibration` (its image size
    // and its display; a finger of `fingerDiameter` camera pixels, 0: the
    // tracker's default). Its index for Push.
    int AddCamera(const std::string& name, const Model& calibration, double fingerDiameter = 0.0);
    // What that camera's tracker gave for a frame taken at frame.t seconds:
    // its contacts replace the camera's earlier ones. False (nothing
    // taken) for an index not added or a time that is not finite.
    bool Push(int camera, const TouchFrame& frame);
    // The camera started over (a member that came back, a tracker made
    // anew): its contacts are forgotten at once; fingers others see keep
    // their ids.
    void Restart(int camera);
    // The surface's contacts at `seconds`: those down, moving or coasting
    // by id, then those that lifted since the last call. Ids are the
    // fusion's own, rising, never reused. Stays valid until the next call.
    const TouchFrame& Fuse(double seconds);
    // Every contact still down, lifted.
    const TouchFrame& LiftAll();

    std::vector<FusionCamera> cameras() const;
    const FusionOptions& options() const noexcept;

private:
    std::unique_ptr<detail::FusionState> state_;
};

}  // namespace quarvel

#endif
