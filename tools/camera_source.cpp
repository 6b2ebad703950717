#include "camera_source.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include <opencv2/imgcodecs.hpp>

namespace quarvel::cli {

bool OpenSource(cv::VideoCapture& capture, const std::string& source, bool allowNumber) {
    try {
        const bool number = allowNumber && !source.empty() && source.size() < 4 &&
                            std::all_of(source.begin(), source.end(), [](char c) { return std::isdigit(c) != 0; });
        if (number) {
            return capture.open(std::stoi(source), cv::CAP_V4L2);
        }
        return capture.open(source, source.find('%') != std::string::npos ? cv::CAP_IMAGES : cv::CAP_FFMPEG);
    } catch (const cv::Exception&) {
        return false;
    }
}

double FramesPerSecond(cv::VideoCapture& capture, const std::string& source) {
    if (source.find('%') != std::string::npos) {
        return 30.0;
    }
    double fps = 0.0;
    try {
        fps = capture.get(cv::CAP_PROP_FPS);
    } catch (const cv::Exception&) {
        fps = 0.0;
    }
    return fps > 0.0 && fps < 1000.0 ? fps : 30.0;
}

cv::Mat ReadGreyImage(const std::string& path) {
    try {
        return cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

bool TerminalKey() {
    if (isatty(STDIN_FILENO) == 0) {
        return false;
    }
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    return poll(&fd, 1, 0) > 0;
}

}  // namespace quarvel::cli
