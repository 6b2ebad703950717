#ifndef QUARVEL_TOOLS_TUIO_SENDER_H
#define QUARVEL_TOOLS_TUIO_SENDER_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/touch.h>

namespace quarvel::cli {

// TUIO 1.1 cursors (the /tuio/2Dcur profile) over OSC on UDP, one bundle
// per frame: "source", "alive" with the session ids down, one "set s x y X
// Y m" per contact, then "fseq" rising by one each frame. x and y are the
// display position over the display's width and height; X and Y their
// speeds in those units per second; m the change of that speed per second.
class TuioSender {
public:
    // An error message, or nullptr with `sender` ready. `target` is
    // "HOST:PORT".
    static std::unique_ptr<TuioSender> Open(const std::string& target, cv::Size display, std::string& error);
    ~TuioSender();
    TuioSender(const TuioSender&) = delete;
    TuioSender& operator=(const TuioSender&) = delete;

    // The frame's contacts, taken at `seconds`. False when the bundle could
    // not be sent (the reason in error()).
    bool Send(const std::vector<Contact>& contacts, double seconds);
    std::string error() const;

private:
    struct Motion {
        double x = 0, y = 0;    // normalised position
        double vx = 0, vy = 0;  // per second
        double seconds = 0;
    };
    TuioSender(void* address, cv::Size display);

    void* address_;  // lo_address
    cv::Size display_;
    int fseq_ = 0;
    std::map<int, Motion> motion_;  // by session id
};

}  // namespace quarvel::cli

#endif
