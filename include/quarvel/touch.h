#ifndef QUARVEL_TOUCH_H
#define QUARVEL_TOUCH_H

// Touches from a camera that watches the surface (usually in infrared): a
// finger on the surface is a bright blob in the frame. The tracker finds
// the blobs against a background it learns, follows each one from frame
// to frame and maps it to the display through the calibration.
//
//   quarvel::TouchTracker tracker(model);             // a Model of the camera's calibration
//   for (;;) {
//       cv::Mat frame = NextCameraFrame();            // grey or BGR, 8-bit, any size
//       for (const quarvel::Contact& c : tracker.Track(frame))
//           Send(c.id, c.display, c.state);           // display pixels, sub-pixel
//   }
//
// The first frames (15 by default) only teach it the background. After
// that the background keeps adapting slowly wherever nothing touches, so a
// static hot spot (a reflection, a lamp) or a slow change of the ambient
// light never becomes a touch.

#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/export.h>
#include <quarvel/model.h>

namespace quarvel {

// How blobs are told from the background. The defaults suit a finger a few
// to a few dozen camera pixels across on an 8-bit camera.
struct BlobOptions {
    int backgroundFrames = 15;  // frames averaged into the background before anything is found
    double threshold = 20.0;    // grey levels above the background a blob's pixels reach
    double minArea = 6.0;       // camera pixels above the threshold: smaller is noise
    double maxArea = 2500.0;    // larger is not a finger (a hand, a light switched on)
    double adaptation = 0.05;   // share of the background renewed each frame where nothing touches
};

struct TrackerOptions {
    BlobOptions blobs;
    // How far (camera pixels) a contact may land from where its motion
    // predicts it; 0: an eighth of the frame's longer side.
    double maxJump = 0.0;
    // A new blob becomes a contact in the frame after it first appears
    // (one frame late), which keeps single-frame specks out. False: at once.
    bool confirmNextFrame = true;
};

enum class ContactState {
    Down,  // first reported in this frame
    Move,  // seen before, still there
    Up,    // gone in this frame; at its last position, reported once
};

// "down", "move" or "up": the names the tool's JSON and the Python module use.
inline const char* ContactStateName(ContactState state) noexcept {
    switch (state) {
        case ContactState::Down: return "down";
        case ContactState::Move: return "move";
        case ContactState::Up: return "up";
    }
    return "move";
}

struct Contact {
    // Stable while the finger stays down; new contacts get increasing ids,
    // never one used before by this tracker.
    int id = 0;
    // Intensity-weighted centre of the background-subtracted blob, camera
    // pixels (pixel centres are whole numbers).
    cv::Point2d camera;
    // `camera` through the calibration's sub-pixel chain, display pixels.
    cv::Point2d display;
    double area = 0.0;  // camera pixels above the threshold
    ContactState state = ContactState::Down;
};

// How the tracker took the last frame given to Track.
struct FrameStatus {
    bool ok = true;      // the frame was tracked (or taught the background)
    std::string reason;  // why it was refused (empty, not 8-bit, 2 channels, ...); empty when ok
};

namespace detail {
struct TrackerState;
}

class QUARVEL_EXPORT TouchTracker {
public:
    // Contacts mapped through `calibration`.
    explicit TouchTracker(const Model& calibration, const TrackerOptions& options = TrackerOptions());
    ~TouchTracker();
    // Movable, not copyable; a moved-from TouchTracker may only be assigned to
    // or destroyed.
    TouchTracker(TouchTracker&&) noexcept;
    TouchTracker& operator=(TouchTracker&&) noexcept;
    TouchTracker(const TouchTracker&) = delete;
    TouchTracker& operator=(const TouchTracker&) = delete;

    // The contacts of the next camera frame (8-bit grey, BGR or BGRA):
    // those down or moving, then those that lifted. Empty while the
    // background is learned. A frame of another size than the last starts
    // over: the contacts lift and the background is learned anew. A frame
    // that cannot be read (empty, another depth or channel count) is
    // refused: frameStatus() says why, and it counts as a frame without
    // touches. Never throws.
    const std::vector<Contact>& Track(const cv::Mat& frame);
    // How the last frame was taken.
    const FrameStatus& frameStatus() const noexcept;

    // True until the background has been learned.
    bool learning() const noexcept;
    // Frames given to Track so far.
    long long frames() const noexcept;
    const Model& calibration() const noexcept;
    const TrackerOptions& options() const noexcept;

private:
    std::unique_ptr<detail::TrackerState> state_;
};

}  // namespace quarvel

#endif
