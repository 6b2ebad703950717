#include "touch_screen.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>

namespace quarvel::cli {
namespace {

constexpr int kTrackingIds = 65535;  // ABS_MT_TRACKING_ID runs 0 .. this

bool EnableAbs(libevdev* d, unsigned int code, int maximum) {
    input_absinfo info{};
    info.minimum = 0;
    info.maximum = maximum;
    return libevdev_enable_event_code(d, EV_ABS, code, &info) == 0;
}

}  // namespace

void EvdevFree::operator()(libevdev* device) const { libevdev_free(device); }

EvdevDescription DescribeTouchScreen(cv::Size display) {
    EvdevDescription d(libevdev_new());
    if (!d) {
        return d;
    }
    libevdev* dev = d.get();
    libevdev_set_name(dev, kTouchScreenName);
    libevdev_set_id_bustype(dev, BUS_VIRTUAL);
    const int maxX = std::max(display.width, 1) - 1;
    const int maxY = std::max(display.height, 1) - 1;
    const bool ok = libevdev_enable_property(dev, INPUT_PROP_DIRECT) == 0 &&
                    libevdev_enable_event_code(dev, EV_KEY, BTN_TOUCH, nullptr) == 0 &&
                    EnableAbs(dev, ABS_X, maxX) && EnableAbs(dev, ABS_Y, maxY) &&
                    EnableAbs(dev, ABS_MT_SLOT, kTouchSlots - 1) &&
                    EnableAbs(dev, ABS_MT_TRACKING_ID, kTrackingIds) &&
                    EnableAbs(dev, ABS_MT_POSITION_X, maxX) && EnableAbs(dev, ABS_MT_POSITION_Y, maxY) &&
                    libevdev_enable_event_code(dev, EV_MSC, MSC_TIMESTAMP, nullptr) == 0;
    if (!ok) {
        d.reset();
    }
    return d;
}

TouchScreenEvents::TouchScreenEvents(cv::Size display) : display_(display), slots_(kTouchSlots) {}

cv::Point TouchScreenEvents::Pixel(const cv::Point2d& display) const {
    const auto clampTo = [](double v, int size) {
        return static_cast<int>(std::lround(std::clamp(v, 0.0, static_cast<double>(std::max(size, 1) - 1))));
    };
    return cv::Point(clampTo(display.x, display_.width), clampTo(display.y, display_.height));
}

void TouchScreenEvents::Select(int slot, std::vector<InputEvent>& out) {
    if (slot != current_) {
        out.push_back({EV_ABS, ABS_MT_SLOT, slot});
        current_ = slot;
    }
}

void TouchScreenEvents::Stamp(double seconds, std::vector<InputEvent>& out) {
    if (!std::isfinite(seconds)) {
        return;
    }
    if (!std::isfinite(firstSeconds_)) {
        firstSeconds_ = seconds;
    }
    // Microseconds, a counter that wraps at 32 bits, as touch hardware counts them.
    const auto micro = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(std::llround(std::max(0.0, seconds - firstSeconds_) * 1e6)));
    out.push_back({EV_MSC, MSC_TIMESTAMP, static_cast<int>(static_cast<std::int32_t>(micro))});
}

std::vector<InputEvent> TouchScreenEvents::Frame(const std::vector<Contact>& contacts, double seconds) {
    std::vector<InputEvent> out;
    const auto down = [&](long long id) {
        return std::find_if(contacts.begin(), contacts.end(), [&](const Contact& c) {
            return c.id == id && c.state != ContactState::Up && std::isfinite(c.x) &&
                   std::isfinite(c.y);
        });
    };
    // Lifted contacts (and any no longer reported) leave their slots first.
    for (int s = 0; s < kTouchSlots; ++s) {
        Slot& slot = slots_[static_cast<std::size_t>(s)];
        if (slot.id != 0 && down(slot.id) == contacts.end()) {
            Select(s, out);
            out.push_back({EV_ABS, ABS_MT_TRACKING_ID, -1});
            slot.id = 0;
        }
    }
    for (const Contact& c : contacts) {
        if (c.state == ContactState::Up || !std::isfinite(c.x) || !std::isfinite(c.y) || c.id <= 0) {
            continue;
        }
        const cv::Point at = Pixel(c.display());
        auto slot = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.id == c.id; });
        if (slot == slots_.end()) {
            slot = std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.id == 0; });
            if (slot == slots_.end()) {
                continue;  // every slot taken
            }
            Select(static_cast<int>(slot - slots_.begin()), out);
            out.push_back({EV_ABS, ABS_MT_TRACKING_ID, static_cast<int>(c.id % kTrackingIds)});
            out.push_back({EV_ABS, ABS_MT_POSITION_X, at.x});
            out.push_back({EV_ABS, ABS_MT_POSITION_Y, at.y});
            *slot = {c.id, at};
            continue;
        }
        if (slot->at != at) {
            Select(static_cast<int>(slot - slots_.begin()), out);
            if (slot->at.x != at.x) {
                out.push_back({EV_ABS, ABS_MT_POSITION_X, at.x});
            }
            if (slot->at.y != at.y) {
                out.push_back({EV_ABS, ABS_MT_POSITION_Y, at.y});
            }
            slot->at = at;
        }
    }
    // The single-touch pointer follows the oldest contact (the lowest id).
    const Slot* oldest = nullptr;
    for (const Slot& s : slots_) {
        if (s.id != 0 && (oldest == nullptr || s.id < oldest->id)) {
            oldest = &s;
        }
    }
    if (oldest != nullptr) {
        if (!touching_) {
            out.push_back({EV_KEY, BTN_TOUCH, 1});
            touching_ = true;
        }
        if (oldest->at.x != pointer_.x) {
            out.push_back({EV_ABS, ABS_X, oldest->at.x});
        }
        if (oldest->at.y != pointer_.y) {
            out.push_back({EV_ABS, ABS_Y, oldest->at.y});
        }
        pointer_ = oldest->at;
    } else if (touching_) {
        out.push_back({EV_KEY, BTN_TOUCH, 0});
        touching_ = false;
    }
    if (!out.empty()) {
        Stamp(seconds, out);
        out.push_back({EV_SYN, SYN_REPORT, 0});
    }
    return out;
}

std::unique_ptr<UinputTouchScreen> UinputTouchScreen::Create(cv::Size display, std::string& error) {
    EvdevDescription description = DescribeTouchScreen(display);
    if (!description) {
        error = "cannot describe the touchscreen (out of memory)";
        return nullptr;
    }
    libevdev_uinput* device = nullptr;
    const int result =
        libevdev_uinput_create_from_device(description.get(), LIBEVDEV_UINPUT_OPEN_MANAGED, &device);
    if (result != 0) {
        const int code = -result;
        error = std::string("cannot create the touchscreen: /dev/uinput: ") + std::strerror(code);
        if (code == ENOENT || code == ENODEV) {
            error += " (load the uinput kernel module: modprobe uinput)";
        } else if (code == EACCES || code == EPERM) {
            error += " (the user needs read and write access to /dev/uinput: a udev rule giving it to a group "
                     "the user is in, see the README)";
        }
        return nullptr;
    }
    return std::unique_ptr<UinputTouchScreen>(new UinputTouchScreen(std::move(description), device));
}

UinputTouchScreen::UinputTouchScreen(EvdevDescription description, libevdev_uinput* device)
    : description_(std::move(description)), device_(device) {}

UinputTouchScreen::~UinputTouchScreen() { libevdev_uinput_destroy(device_); }

bool UinputTouchScreen::Write(const std::vector<InputEvent>& events) {
    for (const InputEvent& e : events) {
        if (libevdev_uinput_write_event(device_, e.type, e.code, e.value) != 0) {
            return false;
        }
    }
    return true;
}

std::string UinputTouchScreen::node() const {
    const char* node = libevdev_uinput_get_devnode(device_);
    return node != nullptr ? node : "";
}

}  // namespace quarvel::cli
