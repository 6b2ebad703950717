#include "camera_devices.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace quarvel::cli {
namespace {

// ioctl, again when a signal interrupted it.
int Control(int fd, unsigned long request, void* arg) {
    int r = 0;
    do {
        r = ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

std::string FourCc(std::uint32_t code) {
    std::string s;
    for (int k = 0; k < 4; ++k) {
        const char c = static_cast<char>((code >> (8 * k)) & 0xff);
        if (c != ' ' && c != '\0') {
            s += c;
        }
    }
    return s;
}

std::string Text(const unsigned char* bytes, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), size));
}

std::vector<double> Rates(int fd, std::uint32_t format, int width, int height) {
    std::vector<double> rates;
    v4l2_frmivalenum interval{};
    interval.pixel_format = format;
    interval.width = static_cast<std::uint32_t>(width);
    interval.height = static_cast<std::uint32_t>(height);
    for (interval.index = 0; Control(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0; ++interval.index) {
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (interval.discrete.numerator > 0) {
                rates.push_back(static_cast<double>(interval.discrete.denominator) / interval.discrete.numerator);
            }
        } else {  // a range: its fastest and slowest
            const v4l2_fract& fast = interval.stepwise.min;
            const v4l2_fract& slow = interval.stepwise.max;
            if (fast.numerator > 0) {
                rates.push_back(static_cast<double>(fast.denominator) / fast.numerator);
            }
            if (slow.numerator > 0) {
                rates.push_back(static_cast<double>(slow.denominator) / slow.numerator);
            }
            break;
        }
    }
    std::sort(rates.rbegin(), rates.rend());
    return rates;
}

void Modes(int fd, CameraDevice& out) {
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; Control(fd, VIDIOC_ENUM_FMT, &format) == 0; ++format.index) {
        v4l2_frmsizeenum size{};
        size.pixel_format = format.pixelformat;
        for (size.index = 0; Control(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
            CameraMode mode;
            mode.format = FourCc(format.pixelformat);
            mode.description = Text(format.description, sizeof format.description);
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                mode.width = static_cast<int>(size.discrete.width);
                mode.height = static_cast<int>(size.discrete.height);
            } else {  // any size in a range: its largest
                mode.width = static_cast<int>(size.stepwise.max_width);
                mode.height = static_cast<int>(size.stepwise.max_height);
            }
            mode.fps = Rates(fd, format.pixelformat, mode.width, mode.height);
            out.modes.push_back(mode);
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
                break;
            }
        }
    }
}

std::string Rate(double fps) {
    char text[32];
    std::snprintf(text, sizeof text, fps == static_cast<int>(fps) ? "%.0f" : "%.2f", fps);
    return text;
}

}  // namespace

std::vector<std::string> V4l2Devices::Nodes() const {
    std::vector<std::pair<int, std::string>> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) == 0 && name.size() > 5 &&
            std::all_of(name.begin() + 5, name.end(), [](char c) { return std::isdigit(c) != 0; })) {
            nodes.emplace_back(std::stoi(name.substr(5)), entry.path().string());
        }
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<std::string> out;
    for (auto& n : nodes) {
        out.push_back(std::move(n.second));
    }
    return out;
}

int V4l2Devices::Query(const std::string& path, CameraDevice& out) const {
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    v4l2_capability caps{};
    int result = 0;
    if (Control(fd, VIDIOC_QUERYCAP, &caps) != 0) {
        result = errno == ENOTTY ? ENODEV : errno;
    } else {
        const std::uint32_t device = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
        if ((device & V4L2_CAP_VIDEO_CAPTURE) == 0) {
            result = ENODEV;
        } else {
            out.path = path;
            out.card = Text(caps.card, sizeof caps.card);
            out.bus = Text(caps.bus_info, sizeof caps.bus_info);
            Modes(fd, out);
        }
    }
    close(fd);
    return result;
}

std::string DescribeCameras(const VideoDevices& devices, int& found) {
    found = 0;
    std::string out;
    for (const std::string& node : devices.Nodes()) {
        CameraDevice d;
        const int error = devices.Query(node, d);
        if (error == ENODEV) {
            continue;  // a metadata node, not a camera
        }
        if (error != 0) {
            out += DeviceTrouble(node, error) + "\n";
            continue;
        }
        ++found;
        out += d.path + "  " + d.card + (d.bus.empty() ? "" : "  (" + d.bus + ")") + "\n";
        std::string format;
        for (const CameraMode& m : d.modes) {
            if (m.format != format) {
                format = m.format;
                out += "  " + m.format + (m.description.empty() ? "" : "  " + m.description) + "\n";
            }
            out += "    " + std::to_string(m.width) + "x" + std::to_string(m.height);
            for (std::size_t k = 0; k < m.fps.size(); ++k) {
                out += (k == 0 ? "  " : ", ") + Rate(m.fps[k]);
            }
            out += m.fps.empty() ? "\n" : " fps\n";
        }
    }
    return out;
}

std::string DeviceTrouble(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return path + ": no such camera; is it plugged in? ('quarvel cameras' lists those there are)";
        case EACCES:
        case EPERM:
            return path + ": not permitted; add the user to the video group (sudo usermod -aG video $USER, then log "
                          "in again), or give the service SupplementaryGroups=video";
        case EBUSY:
            return path + ": busy; another program has the camera open (fuser -v " + path + " names it)";
        default:
            return path + ": cannot be opened: " + std::strerror(error);
    }
}

std::string OpenTrouble(const std::string& source, bool live) {
    const std::string node = live ? DeviceNode(source) : std::string();
    if (node.empty()) {
        return (live ? "cannot open camera '" : "cannot read video '") + source + "'";
    }
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    const int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        close(fd);
    }
    return error != 0 ? DeviceTrouble(node, error)
                      : "cannot open camera '" + source + "' (" + node + " opens, but delivers nothing OpenCV reads)";
}

std::string DeviceNode(const std::string& source) {
    const bool number = !source.empty() && source.size() < 4 &&
                        std::all_of(source.begin(), source.end(), [](char c) { return std::isdigit(c) != 0; });
    if (number) {
        return "/dev/video" + std::to_string(std::stoi(source));
    }
    return source.rfind("/dev/", 0) == 0 ? source : std::string();
}

}  // namespace quarvel::cli
