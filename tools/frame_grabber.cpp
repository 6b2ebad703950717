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

}  // namespace quarvel::cli
