#ifndef QUARVEL_TOOLS_TUIO_SENDER_H
#define QUARVEL_TOOLS_TUIO_SENDER_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <lo/lo.h>
#include <opencv2/core.hpp>

#include <quarvel/touch.h>

namespace quarvel::cli {
// OSC time tags count seconds from 1900 (NTP); Unix seconds from 1970.
inline constexpr double kNtpToUnix = 2208988800.0;
double UnixSeconds(const lo_timetag& tag);
lo_timetag Timetag(double unixSeconds);

// TUIO 1.1 cursors (the /tuio/2Dcur profile) over OSC on UDP, one bundle
// per frame: "source", "alive" with the session ids down, one "set s x y X
// Y m" per contact, then "fseq" rising by one each frame. x and y are the
// display position over the display's width and height; X and Y their
// speeds in those units per second; m the change of that speed per second.
// liblo builds the bundles; they leave through a socket of our own, which
// reaches IPv6 hosts as well as IPv4 ones (Debian's liblo speaks IPv4
// only) and never blocks: a receiver that is gone loses bundles, tracking
// goes on.
class TuioSender {
public:
    // The sender, or null with `error` set. `target` is "HOST:PORT", the
    // host a name, an IPv4 address or a bracketed IPv6 one ("[::1]:3333").
    static std::unique_ptr<TuioSender> Open(const std::string& target, cv::Size display, std::string& error);
    ~TuioSender();
    TuioSender(const TuioSender&) = delete;
    TuioSender& operator=(const TuioSender&) = delete;

    // A member of a wall: "source" names it `name`, and each bundle's time
    // tag is its frame's time, `epoch` (Unix seconds) + the frame's seconds
    // (never later than the moment it is sent). Without, the source is
    // "quarvel".
    void SetMember(const std::string& name, double epoch);
    // Frames timed by the clock (a camera, a replay in real time): each
    // bundle's time tag is its frame's capture time, `epoch` + the frame's
    // seconds. Without (a video read as fast as it goes, whose frame
    // times are no moments), bundles are for immediate use.
    void SetEpoch(double epoch);
    // The frame's contacts, taken at `seconds`. False when the bundle could
    // not be sent (the reason in error()).
    bool Send(const std::vector<Contact>& contacts, double seconds);
    const std::string& error() const noexcept { return error_; }

private:
    struct Motion {
        double x = 0, y = 0;    // normalised position
        double vx = 0, vy = 0;  // per second
        double seconds = 0;
    };
    TuioSender(int socket, std::vector<unsigned char> address, cv::Size display);

    int socket_;
    std::vector<unsigned char> address_;  // the receiver's sockaddr
    cv::Size display_;
    int fseq_ = 0;
    std::string source_ = "quarvel";
    double epoch_ = 0.0;
    bool timed_ = false;  // time tags carry the frames' capture times
    std::map<long long, Motion> motion_;  // by session id
    std::string error_;
    std::vector<unsigned char> packet_;
};

}  // namespace quarvel::cli

#endif
