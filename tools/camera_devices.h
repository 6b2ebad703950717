#ifndef QUARVEL_TOOLS_CAMERA_DEVICES_H
#define QUARVEL_TOOLS_CAMERA_DEVICES_H
// The machine's video devices as an installer meets them: which cameras
// there are, what they deliver (formats, sizes, frame rates), and, for one
// that cannot be opened, one line that says which, why and what to do.

#include <string>
#include <vector>

namespace quarvel::cli {

struct CameraMode {
    std::string format;       // the four-character code: MJPG, YUYV, GREY, ...
    std::string description;  // the driver's name for it
    int width = 0;
    int height = 0;
    std::vector<double> fps;  // the rates it offers, highest first (empty: not said)
};

struct CameraDevice {
    std::string path;  // /dev/videoN
    std::string card;  // the camera's name
    std::string bus;
    std::vector<CameraMode> modes;
};

// Where devices are looked for: the machine's own (V4L2), or a list a test
// hands in.
class VideoDevices {
public:
    virtual ~VideoDevices() = default;
    // The device nodes, in order (/dev/video0, /dev/video1, ...).
    virtual std::vector<std::string> Nodes() const = 0;
    // What `path` is: 0 and `out` filled for a camera; ENODEV for a node
    // that captures nothing (a camera's metadata node); else the errno its
    // opening failed with.
    virtual int Query(const std::string& path, CameraDevice& out) const = 0;
};

class V4l2Devices : public VideoDevices {
public:
    std::vector<std::string> Nodes() const override;
    int Query(const std::string& path, CameraDevice& out) const override;
};

// What `quarvel cameras` prints: each camera with its formats, sizes and
// rates, each node that cannot be opened with its reason. `found` is the
// number of cameras.
std::string DescribeCameras(const VideoDevices& devices, int& found);

// One line for a device that cannot be opened: which, why (missing, busy,
// not permitted) and what to do.
std::string DeviceTrouble(const std::string& path, int error);

// Why `source` could not be opened, in one line: for a camera (a number,
// a /dev path) that is missing, busy or not permitted, which, why and
// what to do; else "cannot open camera '...'" ("cannot read video '...'"
// for a file that is not `live`).
std::string OpenTrouble(const std::string& source, bool live);

// The device node a --camera source names (/dev/videoN for a number N,
// the path itself for a /dev path); empty for streams and files.
std::string DeviceNode(const std::string& source);

}  // namespace quarvel::cli

#endif
