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
//           Send(c.id, c.x, c.y, c.state);            // display pixels, sub-pixel
//   }
//   for (const quarvel::Contact& c : tracker.LiftAll())  // on the way out: every touch lifts
//       Send(c.id, c.x, c.y, c.state);
//
// The background follows the world (BlobOptions): it is learned once the
// picture has stopped changing (a camera's exposure settles after it
// opens), follows the camera's gain and exposure frame by frame, takes in
// a region that changed all at once (a lamp, a curtain, a resting hand)
// within a few frames without reporting it, falls quickly where the
// picture darkens, and rises slowly where nothing touches. A blob that has
// not moved for absorbSeconds (a glint, a sticker) is lifted and becomes
// background. A contact the camera misses for a frame or two keeps its id.

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/export.h>
#include <quarvel/model.h>

namespace quarvel {

// How blobs are told from the background. Sizes are camera pixels; a
// zero means "automatic", worked out from the camera's size or from the
// noise measured while the background is learned.
struct BlobOptions {
    // Frames averaged into the background, once the picture has settled:
    // the mean brightness of the last 6 frames is within settleChange (a
    // share of it) of the 6 before (windows over which mains flicker
    // cancels). A frame that breaks it (a camera's exposure still settling
    // after it opens) starts the count again.
    int backgroundFrames = 15;
    double settleChange = 0.03;
    // Grey levels above the background a finger's pixels reach; 0: seven
    // times the sensor noise measured while learning, at least 12.
    double threshold = 0.0;
    // A finger's diameter; 0: the frame's longer side / 64 (10 pixels on
    // a 640 x 480 camera).
    double fingerDiameter = 0.0;
    // Pixels above the threshold: smaller is noise (0: a fifth of a
    // finger's area), larger is not a finger (0: five fingers' area).
    double minArea = 0.0;
    double maxArea = 0.0;
    // Share of the background renewed each frame where nothing touches
    // and the picture is brighter than it (slow: a finger resting on a
    // spot does not fade), and where the picture is darker (fast: what
    // left the view stops hiding what comes next).
    double adaptation = 0.05;
    double darkening = 0.5;
    // Follow the camera's gain and exposure, measured each frame on the
    // pixels no blob covers.
    bool followGain = true;
    // A region larger than maxArea (a lamp, a curtain, a palm, a forearm)
    // is never a contact; after relearnFrames frames it becomes background,
    // and for quietFrames frames after that no contact starts where it was.
    int relearnFrames = 3;
    int quietFrames = 30;
    // At most this many blobs are considered in a frame (the largest): a
    // frame of thousands of specks costs about what an ordinary one does.
    int maxBlobs = 128;
    // A frame with more specks than this (sets too small or too thin for a
    // finger: rain, a sensor's glitch) starts no contact; those already
    // down go on.
    int stormSpecks = 64;
};

struct TrackerOptions {
    BlobOptions blobs;
    // How far (camera pixels) a contact may land from where its motion
    // predicts it; 0: one and a half finger diameters plus its own speed,
    // so a still finger cannot jump to where another one lands.
    double maxJump = 0.0;
    // A new blob becomes a contact in the frame after it first appears
    // (one frame late), which keeps single-frame specks out. False: at once.
    bool confirmNextFrame = true;
    // Frames a contact may go unseen and stay down, reported where its
    // motion predicts it (a lost frame, two fingers merging as they pass);
    // it lifts after that, at its last reported place.
    int coastFrames = 2;
    // A contact that stays within absorbPixels of one place for
    // absorbSeconds lifts, and its blob becomes background (a glint, a
    // sticker); 0 seconds: never. A press-and-hold shorter than that
    // stays down.
    double absorbSeconds = 8.0;
    double absorbPixels = 0.5;
    // The frames' times when Track is given none: the frame number / this.
    double framesPerSecond = 30.0;
    // Compose the camera's measured motion since its background was first
    // learned (drift()) into the correction, so that touches stay right
    // after a knock until the camera is calibrated again.
    bool followDrift = false;
};

// How far the camera has moved since its background was first learned
// (a knock, a loose mount), measured every half second on the
// background's own structure (the surface's frame, the illuminators' hot
// spots) as a rotation and a shift; a change of light is not a motion.
struct DriftStatus {
    bool measured = false;  // the background could be registered (else the figures are 0)
    double dx = 0.0;        // the image centre's shift, camera pixels
    double dy = 0.0;
    double degrees = 0.0;   // the turn, counter-clockwise as the image is shown
    double camera = 0.0;    // the largest shift of a point of the image, camera pixels
    double display = 0.0;   // what that does to a touch through the calibration, display pixels (the largest)
    long long frame = -1;   // the frame it was measured on
};

enum class ContactState {
    Down,      // first reported in this frame
    Move,      // seen before, and in this frame
    Coasting,  // not seen in this frame (a lost frame, fingers merging as they
               // pass): reported where its motion takes it, still down
    Up,        // gone: at its last seen position, reported once
};

// "down", "move", "coasting" or "up": the names the tool's JSON and the
// Python module use.
inline const char* ContactStateName(ContactState state) noexcept {
    switch (state) {
        case ContactState::Down: return "down";
        case ContactState::Move: return "move";
        case ContactState::Coasting: return "coasting";
        case ContactState::Up: return "up";
    }
    return "move";
}

// A finger on the surface in one frame. The fields are named as the tool's
// JSON and the Python module name them.
struct Contact {
    // Stable while the finger stays down; new contacts get increasing ids,
    // never one used before by this tracker (64 bits: a million a second
    // for 290 000 years).
    long long id = 0;
    // The camera position through the calibration's sub-pixel chain,
    // display pixels.
    double x = 0.0;
    double y = 0.0;
    // The intensity-weighted centre of the background-subtracted blob,
    // camera pixels (pixel centres are whole numbers).
    double cx = 0.0;
    double cy = 0.0;
    double area = 0.0;  // camera pixels above the threshold
    ContactState state = ContactState::Down;

    cv::Point2d display() const noexcept { return cv::Point2d(x, y); }
    cv::Point2d camera() const noexcept { return cv::Point2d(cx, cy); }
    // Still down after this frame (not Up).
    bool down() const noexcept { return state != ContactState::Up; }
};

// How the tracker took a frame.
struct FrameStatus {
    bool ok = true;      // the frame was tracked (or taught the background)
    std::string reason;  // why it was refused (empty, not 8-bit, 2 channels, ...); empty when ok
    // The frame was the last one again (a camera that repeats frames): it
    // changed nothing.
    bool repeated = false;
    // The frame did not look like the scene (black, a wild exposure, torn):
    // the contacts coasted through it and the background did not learn it.
    bool lost = false;
};

// What a frame gave: its number and time, how it was taken, and its
// contacts (those down, moving or coasting by id, then those that lifted).
// It iterates over its contacts.
struct TouchFrame {
    long long frame = -1;  // frames given to the tracker before this one
    double t = 0.0;        // its time, seconds (as given, else frame / framesPerSecond)
    FrameStatus status;
    std::vector<Contact> contacts;

    std::vector<Contact>::const_iterator begin() const noexcept { return contacts.begin(); }
    std::vector<Contact>::const_iterator end() const noexcept { return contacts.end(); }
    std::size_t size() const noexcept { return contacts.size(); }
    bool empty() const noexcept { return contacts.empty(); }
    const Contact& operator[](std::size_t i) const noexcept { return contacts[i]; }
};

// What the background learned.
struct BackgroundStatus {
    bool learned = false;
    double noise = 0.0;      // the sensor noise, grey levels (one standard deviation)
    double threshold = 0.0;  // the threshold in use (the option, else from the noise)
    double minArea = 0.0;    // the blob areas in use
    double maxArea = 0.0;
    double gain = 1.0;       // the last frame against the background: gain ...
    double offset = 0.0;     // ... and offset, grey levels
    long long settling = 0;  // frames seen before the picture settled
    long long relearned = 0; // regions taken into the background all at once
    long long absorbed = 0;  // still blobs taken into the background
};

namespace detail {
class TrackerState;
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

    // The next camera frame (8-bit grey, BGR or BGRA), taken at `seconds`
    // (NaN: the frame number / framesPerSecond): its contacts and how it
    // was taken. No contacts while the background is learned. A frame of
    // another size than the last starts over: the contacts lift and the
    // background is learned anew. A frame that cannot be read (empty,
    // another depth or channel count) is refused: the status says why, and
    // the contacts coast through it as through a lost frame. The result
    // stays valid until the next call. Never throws.
    const TouchFrame& Track(const cv::Mat& frame, double seconds = std::numeric_limits<double>::quiet_NaN());
    // Every contact still down, lifted (state Up, at its last place), for
    // a host that stops: nothing is left pressed. Tracking may go on
    // afterwards; a finger still there comes back under a new id.
    const TouchFrame& LiftAll();
    // A calibration made anew (a service told to reload): the contacts keep
    // their ids and are mapped through `calibration` from the next frame
    // on; the drift is measured from the camera's place now, which the new
    // calibration was made for. The background stays.
    void Recalibrate(const Model& calibration);
    // What the background learned, and what it did since.
    BackgroundStatus background() const noexcept;
    // How far the camera has moved since its background was learned.
    DriftStatus drift() const noexcept;

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
