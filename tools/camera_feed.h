#ifndef QUARVEL_TOOLS_CAMERA_FEED_H
#define QUARVEL_TOOLS_CAMERA_FEED_H

#include <chrono>
#include <functional>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "camera_source.h"

namespace quarvel::cli {

// Frames from a camera, a stream, a video or an image sequence. A camera
// (a number, a /dev path) or a stream (a URL) that stops delivering is
// opened again, after 0.1 s, then twice as long each time up to 2 s, until
// it delivers again or has been gone for `giveUpSeconds`; a video or an
// image sequence ends where it ends.
class CameraFeed {
public:
    using Clock = std::chrono::steady_clock;
    enum class Read {
        Frame,  // `frame` holds the next frame
        End,    // the video or sequence ended, or a stop was asked for
        Gone,   // the camera stayed gone for giveUpSeconds
    };
    CameraFeed(std::string source, bool live, double giveUpSeconds, CameraSettings settings = CameraSettings());

    // Opens the source (a camera with its settings; what it does not take
    // is said once on standard error); false when it cannot be.
    bool Open();
    // Why a source that could not be opened could not: one line for a
    // camera that is missing, busy or not permitted; else a plain one.
    std::string Trouble() const;
    // The next frame. When a camera stops delivering, `lost` is called
    // before the first retry and `back` (with the seconds it was gone)
    // once it delivers again; `stop` is asked between retries.
    Read Next(cv::Mat& frame, const std::function<bool()>& stop, const std::function<void()>& lost,
              const std::function<void(double)>& back);

    cv::VideoCapture& capture() noexcept { return capture_; }
    // When the last frame was captured: the driver's stamp on its buffer
    // where a camera's driver gives one, else the moment it was read.
    Clock::time_point captured() const noexcept { return captured_; }
    const std::string& source() const noexcept { return source_; }
    // Whether a failure is met by opening the source again.
    bool reopens() const noexcept { return reopens_; }

private:
    bool Grab(cv::Mat& frame);
    Clock::time_point Stamp();

    std::string source_;
    bool live_;
    bool reopens_;
    double giveUp_;
    CameraSettings settings_;
    bool said_ = false;  // what the camera did not take, said
    cv::VideoCapture capture_;
    Clock::time_point captured_{};
};

// Whether `source` names a camera or a stream (something that can come
// back), not a file or an image sequence.
bool ReopensWhenGone(const std::string& source);

}  // namespace quarvel::cli

#endif
