#ifndef QUARVEL_TOOLS_TRACK_OUTPUTS_H
#define QUARVEL_TOOLS_TRACK_OUTPUTS_H

// Where `quarvel track` sends each frame's contacts: JSON lines on
// standard output, TUIO bundles, a virtual touchscreen, a window and a
// recording of what it shows.

#include <memory>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <quarvel/touch.h>

#include "touch_screen.h"
#include "tuio_sender.h"

namespace quarvel::cli {

struct TrackOutputs {
    bool json = false;
    std::unique_ptr<TuioSender> tuio;
    std::unique_ptr<UinputTouchScreen> screen;
    std::unique_ptr<TouchScreenEvents> events;
    bool window = false;   // --show, with a display to show it on
    std::string picture;   // -o
    cv::VideoWriter video;  // -o OUT.avi
    bool tuioFailing = false;  // the last bundle could not be sent

    bool any() const { return json || tuio || screen || window || !picture.empty(); }

    // One frame through every output: the JSON line (unless `quietWhenEmpty`
    // and nothing is in it), the TUIO bundle, the touchscreen's events.
    // False, with the reason, when an output that must work (standard
    // output, the touchscreen) cannot be written; a TUIO receiver that is
    // not there only loses bundles.
    bool Emit(long long frame, const TouchFrame& touches, std::string& error, bool quietWhenEmpty = false);
};

}  // namespace quarvel::cli

#endif
