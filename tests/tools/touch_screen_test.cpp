// The virtual touchscreen's events, checked against the device description
// libevdev makes of it; and the device itself where /dev/uinput is there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <libevdev/libevdev.h>

#include "touch_json.h"
#include "touch_screen.h"

namespace {

using quarvel::Contact;
using quarvel::ContactState;
using quarvel::cli::InputEvent;

Contact At(int id, double x, double y, ContactState state) {
    Contact c;
    c.id = id;
    c.x = x;
    c.y = y;
    c.cx = x / 3;
    c.cy = y / 3;
    c.area = 40;
    c.state = state;
    return c;
}

// The value a code last took in the events, or `none`.
int Last(const std::vector<InputEvent>& events, unsigned type, unsigned code, int none = -100) {
    int value = none;
    for (const InputEvent& e : events) {
        if (e.type == type && e.code == code) {
            value = e.value;
        }
    }
    return value;
}

TEST(TouchScreen, EventsFollowProtocolTypeBWithinTheDescribedDevice) {
    const cv::Size display(1920, 1080);
    const quarvel::cli::EvdevDescription device = quarvel::cli::DescribeTouchScreen(display);
    ASSERT_TRUE(device);
    EXPECT_STREQ(libevdev_get_name(device.get()), quarvel::cli::kTouchScreenName);
    EXPECT_TRUE(libevdev_has_property(device.get(), INPUT_PROP_DIRECT));
    EXPECT_EQ(libevdev_get_abs_maximum(device.get(), ABS_MT_POSITION_X), 1919);
    EXPECT_EQ(libevdev_get_abs_maximum(device.get(), ABS_MT_POSITION_Y), 1079);
    EXPECT_EQ(libevdev_get_num_slots(device.get()), quarvel::cli::kTouchSlots);

    quarvel::cli::TouchScreenEvents screen(display);
    const std::vector<std::vector<Contact>> frames = {
        {},
        {At(1, 100.4, 200.6, ContactState::Down)},
        {At(1, 110.0, 200.6, ContactState::Move), At(2, 1900.0, 1070.0, ContactState::Down)},
        {At(1, 110.0, 200.6, ContactState::Move), At(2, 2500.0, -40.0, ContactState::Move)},
        {At(1, 110.0, 200.6, ContactState::Up), At(2, 2500.0, -40.0, ContactState::Move)},
        {At(2, 2500.0, -40.0, ContactState::Up)},
        {},
    };
    std::vector<std::vector<InputEvent>> written;
    for (const auto& contacts : frames) {
        written.push_back(screen.Frame(contacts));
        // Every event is one the device declares, within its range, and a
        // frame that reports anything ends in SYN_REPORT.
        for (const InputEvent& e : written.back()) {
            ASSERT_TRUE(libevdev_has_event_code(device.get(), e.type, e.code)) << e.type << " " << e.code;
            if (e.type == EV_ABS && !(e.code == ABS_MT_TRACKING_ID && e.value == -1)) {
                EXPECT_GE(e.value, libevdev_get_abs_minimum(device.get(), e.code));
                EXPECT_LE(e.value, libevdev_get_abs_maximum(device.get(), e.code));
            }
        }
        if (!written.back().empty()) {
            EXPECT_EQ(written.back().back().type, static_cast<unsigned>(EV_SYN));
            EXPECT_EQ(written.back().back().code, static_cast<unsigned>(SYN_REPORT));
        }
    }
    EXPECT_TRUE(written[0].empty());  // nothing changes, nothing is written
    // The first finger: slot 0, a tracking id, its rounded position, the
    // touch button and the single-touch pointer.
    const std::vector<InputEvent> expected1 = {{EV_ABS, ABS_MT_SLOT, 0},       {EV_ABS, ABS_MT_TRACKING_ID, 1},
                                               {EV_ABS, ABS_MT_POSITION_X, 100}, {EV_ABS, ABS_MT_POSITION_Y, 201},
                                               {EV_KEY, BTN_TOUCH, 1},          {EV_ABS, ABS_X, 100},
                                               {EV_ABS, ABS_Y, 201},            {EV_SYN, SYN_REPORT, 0}};
    ASSERT_EQ(written[1].size(), expected1.size());
    for (std::size_t i = 0; i < expected1.size(); ++i) {
        EXPECT_EQ(written[1][i].type, expected1[i].type) << i;
        EXPECT_EQ(written[1][i].code, expected1[i].code) << i;
        EXPECT_EQ(written[1][i].value, expected1[i].value) << i;
    }
    // The second finger takes slot 1; only what changed is sent.
    EXPECT_EQ(Last(written[2], EV_ABS, ABS_MT_SLOT), 1);
    EXPECT_EQ(Last(written[2], EV_ABS, ABS_MT_TRACKING_ID), 2);
    EXPECT_EQ(Last(written[2], EV_ABS, ABS_MT_POSITION_Y), 1070);
    EXPECT_EQ(Last(written[2], EV_ABS, ABS_X), 110);  // the pointer stays on the oldest
    EXPECT_EQ(Last(written[2], EV_KEY, BTN_TOUCH), -100);
    // Off the display: held at its edge.
    EXPECT_EQ(Last(written[3], EV_ABS, ABS_MT_POSITION_X), 1919);
    EXPECT_EQ(Last(written[3], EV_ABS, ABS_MT_POSITION_Y), 0);
    // The first lifts: its slot ends, and the pointer moves to the other.
    EXPECT_EQ(written[4][0].code, static_cast<unsigned>(ABS_MT_SLOT));
    EXPECT_EQ(written[4][0].value, 0);
    EXPECT_EQ(Last(written[4], EV_ABS, ABS_MT_TRACKING_ID), -1);
    EXPECT_EQ(Last(written[4], EV_ABS, ABS_X), 1919);
    // The last lifts: the button is released.
    EXPECT_EQ(Last(written[5], EV_ABS, ABS_MT_TRACKING_ID), -1);
    EXPECT_EQ(Last(written[5], EV_KEY, BTN_TOUCH), 0);
    EXPECT_TRUE(written[6].empty());

    // More fingers than slots: the extra ones are left out, not misreported.
    std::vector<Contact> many;
    for (int id = 10; id < 10 + quarvel::cli::kTouchSlots + 2; ++id) {
        many.push_back(At(id, 50.0 * id, 500, ContactState::Down));
    }
    const std::vector<InputEvent> crowded = screen.Frame(many);
    int began = 0;
    for (const InputEvent& e : crowded) {
        began += e.code == ABS_MT_TRACKING_ID && e.value >= 0 ? 1 : 0;
    }
    EXPECT_EQ(began, quarvel::cli::kTouchSlots);
}

// Each report carries its frame's capture time: microseconds from the
// first, wrapping at 32 bits as touch hardware's counters do.
TEST(TouchScreen, EachReportCarriesItsCaptureTime) {
    const quarvel::cli::EvdevDescription device = quarvel::cli::DescribeTouchScreen(cv::Size(1920, 1080));
    ASSERT_TRUE(device);
    EXPECT_TRUE(libevdev_has_event_code(device.get(), EV_MSC, MSC_TIMESTAMP));
    quarvel::cli::TouchScreenEvents screen(cv::Size(1920, 1080));
    const struct {
        double t;
        double x;
        int expected;  // -1: no report
    } frames[] = {
        {100.0, 10, 0},
        {100.0333334, 20, 33333},
        {100.07, 20, -1},  // nothing changed: nothing reported
        {100.1, 30, 100000},
        {100.0 + 4294.967296 + 0.5, 40, 500000},  // past 2^32 microseconds
    };
    for (const auto& f : frames) {
        const std::vector<InputEvent> events = screen.Frame({At(1, f.x, 50, ContactState::Move)}, f.t);
        if (f.expected < 0) {
            EXPECT_TRUE(events.empty());
            continue;
        }
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events.back().type, static_cast<unsigned>(EV_SYN));
        const InputEvent& stamp = events[events.size() - 2];
        EXPECT_EQ(stamp.type, static_cast<unsigned>(EV_MSC));
        EXPECT_EQ(stamp.code, static_cast<unsigned>(MSC_TIMESTAMP));
        EXPECT_EQ(stamp.value, f.expected) << f.t;
    }
    // Without a time, no time stamp.
    EXPECT_EQ(Last(screen.Frame({At(1, 60, 50, ContactState::Move)}), EV_MSC, MSC_TIMESTAMP), -100);
}

TEST(TouchScreen, TheVirtualDeviceIsCreatedWhereUinputIsWritable) {
    if (access("/dev/uinput", R_OK | W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/uinput on this machine: the device itself was not created";
    }
    std::string error;
    auto screen = quarvel::cli::UinputTouchScreen::Create(cv::Size(1280, 800), error);
    ASSERT_TRUE(screen) << error;
    EXPECT_EQ(screen->node().rfind("/dev/input/event", 0), 0u) << screen->node();
    quarvel::cli::TouchScreenEvents events(cv::Size(1280, 800));
    EXPECT_TRUE(screen->Write(events.Frame({At(1, 640, 400, ContactState::Down)})));
    EXPECT_TRUE(screen->Write(events.Frame({At(1, 640, 400, ContactState::Up)})));
}

TEST(TouchJson, OneLinePerFrameInTheDocumentedForm) {
    const quarvel::FrameStatus ok;
    EXPECT_EQ(quarvel::cli::FrameJson(0, 0.0, ok, {}), R"({"frame": 0, "t": 0.000000, "contacts": []})");
    Contact nowhere = At(7, std::nan(""), 3.0, ContactState::Coasting);
    nowhere.area = 12.4;
    EXPECT_EQ(quarvel::cli::FrameJson(12, 0.4, ok, {At(3, 10.25, 20.5, ContactState::Down), nowhere}),
              R"({"frame": 12, "t": 0.400000, "contacts": [{"id": 3, "x": 10.2500, "y": 20.5000, "cx": 3.4167, )"
              R"("cy": 6.8333, "area": 40, "state": "down"}, {"id": 7, "x": null, "y": 3.0000, "cx": null, )"
              R"("cy": 1.0000, "area": 12, "state": "coasting"}]})");
    // A frame refused, repeated or lost says so, its reason a JSON string.
    quarvel::FrameStatus refused;
    refused.ok = false;
    refused.reason = "the frame is \"odd\"\n";
    EXPECT_EQ(quarvel::cli::FrameJson(3, 0.1, refused, {}),
              R"({"frame": 3, "t": 0.100000, "status": {"ok": false, "reason": "the frame is \"odd\"\u000a", )"
              R"("repeated": false, "lost": false}, "contacts": []})");
}

}  // namespace
