#include "track_outputs.h"

#include <cstdio>

#include "touch_json.h"

namespace quarvel::cli {

bool TrackOutputs::Emit(long long frame, const TouchFrame& touches, std::string& error, bool quietWhenEmpty) {
    if (json && !(quietWhenEmpty && touches.empty())) {
        const std::string line = FrameJson(frame, touches.t, touches.status, touches.contacts) + "\n";
        if (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            error = "cannot write standard output";
            return false;
        }
    }
    if (tuio) {
        const bool sent = tuio->Send(touches.contacts, touches.t);
        if (!sent && !tuioFailing) {
            std::fprintf(stderr, "quarvel: warning: TUIO bundles not sent: %s (tracking goes on)\n",
                         tuio->error().c_str());
        } else if (sent && tuioFailing) {
            std::fprintf(stderr, "quarvel: TUIO bundles are sent again\n");
        }
        tuioFailing = !sent;
    }
    if (screen && !screen->Write(events->Frame(touches.contacts, touches.t))) {
        error = "cannot write to the touchscreen " + screen->node();
        return false;
    }
    return true;
}

}  // namespace quarvel::cli
