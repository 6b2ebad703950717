#ifndef QUARVEL_TOOLS_TUIO_RECEIVER_H
#define QUARVEL_TOOLS_TUIO_RECEIVER_H
// A TUIO 1.1 cursor bundle as a hub takes it from a member: who sent it,
// when its frame was taken, the sessions alive and where each is.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quarvel::cli {

struct TuioBundle {
    std::string source;          // "" when the bundle names none
    double time = 0.0;           // its time tag, Unix seconds; NaN for "at once"
    bool hasAlive = false;
    std::vector<int> alive;      // session ids down
    struct Cursor {
        double x = 0.0;          // over the display's width and height
        double y = 0.0;
    };
    std::map<int, Cursor> cursors;  // by session id, from "set"
    int fseq = -1;               // the frame's sequence number; -1: none
};

// Decodes an OSC bundle of /tuio/2Dcur messages. False for anything else
// or anything malformed (a size that overruns, an argument of the wrong
// type, a position that is not finite): such a packet is never trusted.
bool ParseTuioBundle(const std::uint8_t* data, std::size_t size, TuioBundle& out);

}  // namespace quarvel::cli

#endif
