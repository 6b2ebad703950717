#include "frame_grabber.h"

#include <algorithm>

namespace quarvel::cli {

FrameGrabber::FrameGrabber(CameraFeed& feed) : feed_(feed), thread_([this] { Run(); }) {}

FrameGrabber::~FrameGrabber() {
    stopping_ = true;
    changed_.notify_all();
    thread_.join();
}

void FrameGrabber::Run() {
    const auto stop = [this] { return stopping_.load(); };
    const auto push = [this](Event event, double gone) {
        const std::lock_guard<std::mutex> lock(m_);
        Taken t;
        t.event = event;
        t.goneSeconds = gone;
        events_.push_back(std::move(t));
        changed_.notify_all();
    };
    while (!stopping_) {
        cv::Mat frame;  // a buffer of its own each time: the last one may still be in use
        const CameraFeed::Read read = feed_.Next(
            frame, stop, [&] { push(Event::Lost, 0.0); }, [&](double gone) { push(Event::Back, gone); });
        if (read != CameraFeed::Read::Frame) {
            push(read == CameraFeed::Read::Gone ? Event::Gone : Event::End, 0.0);
            return;
        }
        const std::lock_guard<std::mutex> lock(m_);
        newest_.skipped = fresh_ ? newest_.skipped + 1 : 0;
        order_ = static_cast<long long>(events_.size());  // whatever happened before it, first
        newest_.event = Event::Frame;
        newest_.frame = std::move(frame);
        newest_.captured = feed_.captured();
        fresh_ = true;
        changed_.notify_all();
    }
}

FrameGrabber::Taken FrameGrabber::Next(const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> lock(m_);
    while (!fresh_ && events_.empty()) {
        if (stop()) {
            return Taken();
        }
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
    // Events that came before the fresh frame go first.
    if (!events_.empty() && (!fresh_ || order_ > 0)) {
        Taken t = std::move(events_.front());
        events_.pop_front();
        order_ = std::max(0LL, order_ - 1);
        return t;
    }
    fresh_ = false;
    return std::move(newest_);
}

CameraFeed::Read FrameGrabber::Read(cv::Mat& frame, Clock::time_point& captured, long long& skipped,
                                    const std::function<bool()>& stop, const std::function<void()>& lost,
                                    const std::function<void(double)>& back) {
    for (;;) {
        Taken t = Next(stop);
        switch (t.event) {
            case Event::Frame:
                frame = std::move(t.frame);
                captured = t.captured;
                skipped = t.skipped;
                return CameraFeed::Read::Frame;
            case Event::Lost:
                lost();
                break;
            case Event::Back:
                back(t.goneSeconds);
                break;
            case Event::Gone:
                return CameraFeed::Read::Gone;
            case Event::End:
                return CameraFeed::Read::End;
        }
    }
}

}  // namespace quarvel::cli
