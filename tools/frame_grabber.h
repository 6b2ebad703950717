#ifndef QUARVEL_TOOLS_FRAME_GRABBER_H
#define QUARVEL_TOOLS_FRAME_GRABBER_H
// A live camera read on a thread of its own, so that tracking always gets
// the newest frame, never a queue of stale ones: a frame not yet taken
// when the next arrives is replaced, and counted as skipped. What happens
// to the camera (lost, back, gone) comes through in order with the frames.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <opencv2/core.hpp>

#include "camera_feed.h"

namespace quarvel::cli {

class FrameGrabber {
public:
    using Clock = std::chrono::steady_clock;
    enum class Event {
        Frame,  // a frame, the newest there is
        Lost,   // the camera stopped delivering (it is being opened again)
        Back,   // it delivers again, after `goneSeconds`
        End,    // no more frames (the source ended, or a stop was asked for)
        Gone,   // the camera stayed gone past its time-out
    };
    struct Taken {
        Event event = Event::End;
        cv::Mat frame;
        Clock::time_point captured{};
        long long skipped = 0;     // frames replaced since the last one taken
        double goneSeconds = 0.0;  // Back: how long it was gone
    };

    // Reads `feed` (opened) from a thread of its own until it ends or this goes.
    explicit FrameGrabber(CameraFeed& feed);
    ~FrameGrabber();
    FrameGrabber(const FrameGrabber&) = delete;
    FrameGrabber& operator=(const FrameGrabber&) = delete;

    // The next event; waits for one, asking `stop` every 50 ms (End when it
    // says so).
    Taken Next(const std::function<bool()>& stop);
    // As CameraFeed::Next: the next frame (Read::Frame, with its capture
    // time and the frames it replaced), `lost` and `back` called as the
    // camera goes and comes back in between, or the end.
    CameraFeed::Read Read(cv::Mat& frame, Clock::time_point& captured, long long& skipped,
                          const std::function<bool()>& stop, const std::function<void()>& lost,
                          const std::function<void(double)>& back);

private:
    void Run();

    CameraFeed& feed_;
    std::mutex m_;
    std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    // Under m_:
    std::deque<Taken> events_;  // Lost, Back, End, Gone, each after the frames before it
    Taken newest_;              // a Frame not yet taken, when fresh_
    bool fresh_ = false;
    long long order_ = 0;       // events queued before the fresh frame
    std::thread thread_;        // last: it starts once the rest is set up
};

}  // namespace quarvel::cli

#endif
