#include "camera_source.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>

#include <opencv2/imgcodecs.hpp>

namespace quarvel::cli {

bool OpenSource(cv::VideoCapture& capture, const std::string& source, bool allowNumber) {
    try {
        const bool number = allowNumber && !source.empty() && source.size() < 4 &&
                            std::all_of(source.begin(), source.end(), [](char c) { return std::isdigit(c) != 0; });
        if (number) {
            return capture.open(std::stoi(source), cv::CAP_V4L2);
        }
        if (source.rfind("/dev/video", 0) == 0) {
            return capture.open(source, cv::CAP_V4L2);
        }
        return capture.open(source, source.find('%') != std::string::npos ? cv::CAP_IMAGES : cv::CAP_FFMPEG);
    } catch (const cv::Exception&) {
        return false;
    }
}

namespace {

std::string Code(double fourcc) {
    const auto code = static_cast<std::uint32_t>(fourcc);
    std::string s;
    for (int k = 0; k < 4; ++k) {
        const char c = static_cast<char>((code >> (8 * k)) & 0xff);
        s += c == '\0' ? ' ' : c;
    }
    return s;
}

}  // namespace

std::vector<std::string> ApplyCameraSettings(cv::VideoCapture& capture, const CameraSettings& settings) {
    std::vector<std::string> refused;
    try {
        if (capture.getBackendName() != "V4L2") {
            if (settings.any()) {
                refused.push_back("--camera-format, --camera-size, --camera-fps, --exposure and --gain are for "
                                  "cameras (/dev/videoN): this source keeps its own");
            }
            return refused;
        }
        if (!settings.format.empty()) {
            const std::string& f = settings.format;
            capture.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc(f[0], f[1], f[2], f[3]));
            if (Code(capture.get(cv::CAP_PROP_FOURCC)) != f) {
                refused.push_back("the camera does not deliver " + f + " (it gives " +
                                  Code(capture.get(cv::CAP_PROP_FOURCC)) + "; 'quarvel cameras' lists what it does)");
            }
        }
        if (!settings.size.empty()) {
            capture.set(cv::CAP_PROP_FRAME_WIDTH, settings.size.width);
            capture.set(cv::CAP_PROP_FRAME_HEIGHT, settings.size.height);
            const cv::Size got(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                               static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
            if (got != settings.size) {
                refused.push_back("the camera does not deliver " + std::to_string(settings.size.width) + "x" +
                                  std::to_string(settings.size.height) + " (it gives " + std::to_string(got.width) +
                                  "x" + std::to_string(got.height) + ")");
            }
        }
        if (settings.fps > 0 && (!capture.set(cv::CAP_PROP_FPS, settings.fps) ||
                                 std::abs(capture.get(cv::CAP_PROP_FPS) - settings.fps) > 0.5)) {
            refused.push_back("the camera does not deliver " + std::to_string(static_cast<int>(settings.fps)) +
                              " frames a second in this format and size");
        }
        // V4L2's exposure modes: 1 manual, 3 the camera's own.
        if (!capture.set(cv::CAP_PROP_AUTO_EXPOSURE, settings.autoExposure ? 3 : 1) && !settings.autoExposure) {
            refused.push_back("the camera's automatic exposure could not be turned off");
        }
        if (settings.exposure && !capture.set(cv::CAP_PROP_EXPOSURE, *settings.exposure)) {
            refused.push_back("the camera does not take --exposure");
        }
        if (settings.gain && !capture.set(cv::CAP_PROP_GAIN, *settings.gain)) {
            refused.push_back("the camera does not take --gain");
        }
    } catch (const cv::Exception& e) {
        refused.push_back(std::string("the camera's settings could not be applied: ") + e.what());
    }
    return refused;
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
