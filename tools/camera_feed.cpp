#include "camera_feed.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include <cstdio>

#include "camera_devices.h"
#include "camera_source.h"

namespace quarvel::cli {

bool ReopensWhenGone(const std::string& source) {
    const bool number = !source.empty() && source.size() < 4 &&
                        std::all_of(source.begin(), source.end(), [](char c) { return std::isdigit(c) != 0; });
    return number || source.rfind("/dev/", 0) == 0 || source.find("://") != std::string::npos;
}

CameraFeed::CameraFeed(std::string source, bool live, double giveUpSeconds, CameraSettings settings)
    : source_(std::move(source)),
      live_(live),
      reopens_(live && ReopensWhenGone(source_)),
      giveUp_(giveUpSeconds),
      settings_(std::move(settings)) {}

bool CameraFeed::Open() {
    if (!OpenSource(capture_, source_, live_)) {
        return false;
    }
    if (live_) {
        const std::vector<std::string> refused = ApplyCameraSettings(capture_, settings_);
        for (const std::string& line : said_ ? std::vector<std::string>() : refused) {
            std::fprintf(stderr, "quarvel: warning: '%s': %s\n", source_.c_str(), line.c_str());
        }
        said_ = true;
    }
    return true;
}

std::string CameraFeed::Trouble() const { return OpenTrouble(source_, live_); }

bool CameraFeed::Grab(cv::Mat& frame) {
    try {
        if (!capture_.read(frame) || frame.empty()) {
            return false;
        }
        captured_ = Stamp();
        return true;
    } catch (const cv::Exception&) {
        return false;
    }
}

CameraFeed::Clock::time_point CameraFeed::Stamp() {
    const Clock::time_point now = Clock::now();
    if (!live_ || capture_.getBackendName() != "V4L2") {
        return now;
    }
    // V4L2 drivers stamp their buffers on the monotonic clock, the steady
    // clock's; a stamp that is not within the last second is not one.
    const double ms = capture_.get(cv::CAP_PROP_POS_MSEC);
    const auto stamp = Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms)));
    return ms > 0 && stamp <= now && now - stamp < std::chrono::seconds(1) ? stamp : now;
}

CameraFeed::Read CameraFeed::Next(cv::Mat& frame, const std::function<bool()>& stop,
                                  const std::function<void()>& lost, const std::function<void(double)>& back) {
    if (Grab(frame)) {
        return Read::Frame;
    }
    if (!reopens_ || stop()) {
        return Read::End;
    }
    lost();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point since = Clock::now();
    double wait = 0.1;
    for (;;) {
        const double gone = std::chrono::duration<double>(Clock::now() - since).count();
        if (gone >= giveUp_) {
            return Read::Gone;
        }
        // Sleep in short steps, so that a stop is heard at once.
        const Clock::time_point until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                           std::chrono::duration<double>(std::min(wait, giveUp_ - gone)));
        while (Clock::now() < until) {
            if (stop()) {
                return Read::End;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        wait = std::min(2 * wait, 2.0);
        capture_.release();
        if (Open() && Grab(frame)) {
            back(std::chrono::duration<double>(Clock::now() - since).count());
            return Read::Frame;
        }
    }
}

}  // namespace quarvel::cli
