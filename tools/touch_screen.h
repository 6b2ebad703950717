#ifndef QUARVEL_TOOLS_TOUCH_SCREEN_H
#define QUARVEL_TOOLS_TOUCH_SCREEN_H

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/touch.h>

struct libevdev;
struct libevdev_uinput;

namespace quarvel::cli {

// The contacts as a Linux multi-touch screen speaks them: protocol type B
// (ABS_MT_SLOT, ABS_MT_TRACKING_ID, ABS_MT_POSITION_X/Y over the display's
// pixels), with BTN_TOUCH and ABS_X/ABS_Y following the oldest contact
// for single-touch programs.

inline constexpr int kTouchSlots = 10;  // contacts the screen reports at once
inline constexpr const char kTouchScreenName[] = "Quarvel camera touchscreen";

struct InputEvent {
    unsigned int type;
    unsigned int code;
    int value;
};

struct EvdevFree {
    void operator()(libevdev* device) const;
};
using EvdevDescription = std::unique_ptr<libevdev, EvdevFree>;

// The device's description: its name, the event codes it sends and their
// ranges, INPUT_PROP_DIRECT (a touchscreen, not a touchpad). Null when
// libevdev cannot allocate it.
EvdevDescription DescribeTouchScreen(cv::Size display);

// Turns each frame's contacts into the events that report them, ending in
// SYN_REPORT (nothing for a frame that changes nothing). A contact beyond
// the slots, or without a display position, is left out. A frame with its
// capture time (`seconds`) reports it in MSC_TIMESTAMP: microseconds since
// the first such frame, wrapping at 32 bits.
class TouchScreenEvents {
public:
    explicit TouchScreenEvents(cv::Size display);
    std::vector<InputEvent> Frame(const std::vector<Contact>& contacts,
                                  double seconds = std::numeric_limits<double>::quiet_NaN());

private:
    struct Slot {
        long long id = 0;  // the contact in it; 0: free
        cv::Point at;
    };
    void Select(int slot, std::vector<InputEvent>& out);
    // MSC_TIMESTAMP for a frame taken at `seconds` (nothing when it is not a number).
    void Stamp(double seconds, std::vector<InputEvent>& out);
    cv::Point Pixel(const cv::Point2d& display) const;

    cv::Size display_;
    std::vector<Slot> slots_;
    int current_ = -1;  // the slot the last ABS_MT_SLOT chose
    bool touching_ = false;
    cv::Point pointer_{-1, -1};
    double firstSeconds_ = std::numeric_limits<double>::quiet_NaN();
};

// A virtual touchscreen through /dev/uinput.
class UinputTouchScreen {
public:
    // Null, with a message naming the device and the access it needs, when
    // /dev/uinput cannot be opened.
    static std::unique_ptr<UinputTouchScreen> Create(cv::Size display, std::string& error);
    ~UinputTouchScreen();
    UinputTouchScreen(const UinputTouchScreen&) = delete;
    UinputTouchScreen& operator=(const UinputTouchScreen&) = delete;

    bool Write(const std::vector<InputEvent>& events);
    std::string node() const;  // /dev/input/eventN

private:
    UinputTouchScreen(EvdevDescription description, libevdev_uinput* device);
    EvdevDescription description_;
    libevdev_uinput* device_;
};

}  // namespace quarvel::cli

#endif
