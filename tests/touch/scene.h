#ifndef QUARVEL_TESTS_TOUCH_SCENE_H
#define QUARVEL_TESTS_TOUCH_SCENE_H

// Fingers scripted on a touch surface, seen by the simulated infrared
// camera, tracked, and judged against the script.

#include <functional>
#include <map>
#include <set>
#include <vector>

#include <quarvel/touch.h>

#include "support/ir_camera.h"

namespace quarvel::test {

// What the tracker made of a script, per frame: its contacts that are down
// or moving are paired with the fingers the frame shows (nearest first,
// within 6 display pixels). A contact on no finger is a ghost, unless its
// finger lifted no more than the tracker's coast frames ago: then it is
// that finger's lift, reported late.
struct TrackingScore {
    double rms = 0.0;  // display pixels, over every paired contact frame
    double max = 0.0;
    int paired = 0;    // contact frames compared
    int missed = 0;    // a finger down since an earlier frame with no contact on it
    int ghosts = 0;    // contacts on no finger
    int duplicates = 0;    // of those, contacts within 40 display pixels of a finger that is down
    int ghostFrames = 0;   // frames with at least one ghost
    int firstGhost = -1;   // the frames of the first and the last ghost
    int lastGhost = -1;
    int lateLifts = 0;     // contact frames after their finger lifted, within the coast frames
    int swaps = 0;     // a finger's contact id changed while it stayed down
    int ids = 0;       // distinct contact ids reported
    bool idsRise = true;  // every new id above all before it
    std::vector<std::set<long long>> fingerIds;  // the ids each scripted finger was reported under
    std::vector<int> fingerMissed;               // its missed frames
};

// Scores contacts frame by frame against a script.
class Judge {
public:
    Judge(const std::vector<ScriptedTouch>& script, int coastFrames);
    // The contacts reported for frame `f`, which shows the fingers of
    // frame `shown` (a repeated frame shows the one before).
    void Frame(int f, int shown, const std::vector<Contact>& all);
    // Also the largest change of a finger's error from one frame to the
    // next (a seam's jump), display pixels.
    const TrackingScore& score();
    double largestStep() const { return largestStep_; }
    int largestStepFrame() const { return largestStepFrame_; }

private:
    const std::vector<ScriptedTouch>& script_;
    int coastFrames_;
    TrackingScore score_;
    std::map<std::size_t, long long> idOf_;      // scripted finger -> the contact id on it
    std::map<std::size_t, cv::Point2d> errorOf_;  // scripted finger -> its contact's error in the frame before
    std::map<long long, int> liftedAt_;          // a contact id -> the frame its finger lifted
    std::set<long long> ids_;
    long long highest_ = 0;
    double sum2_ = 0.0;
    double largestStep_ = 0.0;
    int largestStepFrame_ = -1;
};
// `observe`, when given, sees each frame's contacts.
TrackingScore Track(IrCamera& camera, const std::vector<ScriptedTouch>& script, int frames,
                    const TrackerOptions& options = TrackerOptions(),
                    const std::function<void(int, const std::vector<Contact>&)>& observe = {});

// The scripted cases, from frame `start` on (display pixels on 1920 x 1080):
ScriptedTouch Drag(int start);    // a straight drag across the display
ScriptedTouch Circle(int start);  // a full circle
ScriptedTouch Hold(int start, int frames = 60);  // a finger held still
// Two fast swipes in opposite directions passing each other on tracks
// `gap` display pixels apart; `meet`: side by side in one frame (else
// they pass between two frames).
std::vector<ScriptedTouch> PassingSwipes(int start, double gap = 45.0, bool meet = false);

}  // namespace quarvel::test

#endif
