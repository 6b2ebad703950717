#ifndef QUARVEL_TESTS_TOUCH_SCENE_H
#define QUARVEL_TESTS_TOUCH_SCENE_H

// Fingers scripted on a touch surface, seen by the simulated infrared
// camera, tracked, and judged against the script.

#include <vector>

#include <quarvel/touch.h>

#include "support/ir_camera.h"

namespace quarvel::test {

// What the tracker made of a script, per frame: its contacts that are down
// or moving are paired with the fingers down (nearest first, within 6
// display pixels).
struct TrackingScore {
    double rms = 0.0;  // display pixels, over every paired contact frame
    double max = 0.0;
    int paired = 0;    // contact frames compared
    int missed = 0;    // a finger down since an earlier frame with no contact on it
    int ghosts = 0;    // contacts on no finger
    int swaps = 0;     // a finger's contact id changed while it stayed down
    int ids = 0;       // distinct contact ids reported
    bool idsRise = true;  // every new id above all before it
};

TrackingScore Track(IrCamera& camera, const std::vector<ScriptedTouch>& script, int frames,
                    const TrackerOptions& options = TrackerOptions());

// The scripted cases, from frame `start` on (display pixels on 1920 x 1080):
ScriptedTouch Drag(int start);    // a straight drag across the display
ScriptedTouch Circle(int start);  // a full circle
ScriptedTouch Hold(int start);    // a finger held still
// Two fast swipes in opposite directions passing each other on tracks 45
// display pixels apart.
std::vector<ScriptedTouch> PassingSwipes(int start);

}  // namespace quarvel::test

#endif
