// The parts `quarvel track` runs an installation with, without a process:
// the camera list against a fake device list, config files, and the health
// board's figures and metrics.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <chrono>
#include <thread>

#include <opencv2/imgcodecs.hpp>

#include "camera_devices.h"
#include "camera_feed.h"
#include "frame_grabber.h"
#include "config_file.h"
#include "health.h"
#include "support/ir_camera.h"

namespace {

using namespace quarvel::cli;

// Devices as a test describes them: a camera, or the errno its opening gives.
class FakeDevices : public VideoDevices {
public:
    std::map<std::string, std::pair<int, CameraDevice>> nodes;
    std::vector<std::string> Nodes() const override {
        std::vector<std::string> out;
        for (const auto& [path, _] : nodes) {
            out.push_back(path);
        }
        return out;
    }
    int Query(const std::string& path, CameraDevice& out) const override {
        const auto& [error, device] = nodes.at(path);
        out = device;
        return error;
    }
};

TEST(CameraList, EachCameraWithItsModesAndEachTroubleInOneLine) {
    FakeDevices devices;
    CameraDevice usb{"/dev/video0", "USB IR Camera", "usb-0000:00:14.0-1", {}};
    usb.modes = {{"MJPG", "Motion-JPEG", 1280, 720, {60, 30}},
                 {"MJPG", "Motion-JPEG", 640, 480, {120, 60, 30}},
                 {"YUYV", "YUYV 4:2:2", 640, 480, {30, 7.5}},
                 {"GREY", "", 320, 240, {}}};
    devices.nodes["/dev/video0"] = {0, usb};
    devices.nodes["/dev/video1"] = {ENODEV, {}};  // the camera's metadata node
    devices.nodes["/dev/video2"] = {EBUSY, {}};
    devices.nodes["/dev/video3"] = {EACCES, {}};
    devices.nodes["/dev/video4"] = {EIO, {}};
    int found = -1;
    const std::string text = DescribeCameras(devices, found);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(text,
              "/dev/video0  USB IR Camera  (usb-0000:00:14.0-1)\n"
              "  MJPG  Motion-JPEG\n"
              "    1280x720  60, 30 fps\n"
              "    640x480  120, 60, 30 fps\n"
              "  YUYV  YUYV 4:2:2\n"
              "    640x480  30, 7.50 fps\n"
              "  GREY\n"
              "    320x240\n"
              "/dev/video2: busy; another program has the camera open (fuser -v /dev/video2 names it)\n"
              "/dev/video3: not permitted; add the user to the video group (sudo usermod -aG video $USER, then log "
              "in again), or give the service SupplementaryGroups=video\n"
              "/dev/video4: cannot be opened: Input/output error\n");
    FakeDevices none;
    EXPECT_EQ(DescribeCameras(none, found), "");
    EXPECT_EQ(found, 0);
}

TEST(CameraList, TheDeviceACameraOptionNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "/dev/video0"}, {"12", "/dev/video12"}, {"/dev/video2", "/dev/video2"},
        {"rtsp://cam/stream", ""}, {"clip.avi", ""}, {"1234", ""},
    };
    for (const auto& [source, node] : cases) {
        EXPECT_EQ(DeviceNode(source), node) << source;
    }
    EXPECT_NE(OpenTrouble("/dev/video977", true).find("/dev/video977: no such camera"), std::string::npos);
    EXPECT_EQ(OpenTrouble("clip.avi", false), "cannot read video 'clip.avi'");
}

// A source faster than its reader: the reader always gets the newest
// frame, in order, and every frame is either taken or counted as skipped.
TEST(FrameGrabberThreads, TheNewestFrameEveryOtherCounted) {
    const std::string dir = testing::TempDir();
    constexpr int kFrames = 60;
    for (int n = 0; n < kFrames; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/grab%04d.png", n);
        ASSERT_TRUE(cv::imwrite(dir + name, cv::Mat(48, 64, CV_8UC1, cv::Scalar(n * 4))));
    }
    CameraFeed feed(dir + "/grab%04d.png", true, 1.0);  // read as fast as it goes, as a camera delivers
    ASSERT_TRUE(feed.Open());
    FrameGrabber grabber(feed);
    long long taken = 0;
    long long skipped = 0;
    int last = -1;
    for (;;) {
        const FrameGrabber::Taken t = grabber.Next([] { return false; });
        if (t.event != FrameGrabber::Event::Frame) {
            EXPECT_EQ(t.event, FrameGrabber::Event::End);
            break;
        }
        const int n = t.frame.at<unsigned char>(0, 0) / 4;
        EXPECT_EQ(n, last + 1 + t.skipped) << "frames skipped are counted, none taken twice";
        last = n;
        ++taken;
        skipped += t.skipped;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a reader slower than its source
    }
    EXPECT_EQ(taken + skipped, kFrames);
    EXPECT_EQ(last, kFrames - 1) << "the last frame is never lost";
    EXPECT_GT(skipped, 0);
    // Let go while its source still delivers: it stops reading.
    CameraFeed again(dir + "/grab%04d.png", true, 1.0);
    ASSERT_TRUE(again.Open());
    {
        FrameGrabber early(again);
        EXPECT_EQ(early.Next([] { return false; }).event, FrameGrabber::Event::Frame);
    }
    // A source that is not there does not open.
    CameraFeed none(dir + "/none%04d.png", true, 1.0);
    EXPECT_FALSE(none.Open());
}

TEST(ConfigFile, WordsAsACommandLineWouldHaveThem) {
    struct Case {
        const char* text;
        std::vector<std::string> words;
        const char* error;  // nullptr: none
    };
    const Case cases[] = {
        {"", {}, nullptr},
        {"# only a comment\n\n", {}, nullptr},
        {"left.ini --camera 0\r\nright.ini --camera 2\n", {"left.ini", "--camera", "0", "right.ini", "--camera", "2"},
         nullptr},
        {"--tuio 127.0.0.1:3333  # the hub\n--json", {"--tuio", "127.0.0.1:3333", "--json"}, nullptr},
        {"a#b 'two words' \"x y\"z ''", {"a#b", "two words", "x yz", ""}, nullptr},
        {"--video 'clip.avi\n--json", {}, "line 1: a ' that is not closed on its line"},
        {"a\nb\n\"c", {}, "line 3: a \" that is not closed on its line"},
    };
    for (const Case& c : cases) {
        std::deque<std::string> words;
        const auto error = SplitConfig(c.text, words);
        if (c.error != nullptr) {
            ASSERT_TRUE(error) << c.text;
            EXPECT_EQ(*error, c.error);
        } else {
            EXPECT_FALSE(error) << c.text << ": " << error.value_or("");
            EXPECT_EQ(std::vector<std::string>(words.begin(), words.end()), c.words) << c.text;
        }
    }
}

TEST(ConfigFile, ExpandedInPlaceWhatFollowsWins) {
    const std::string path = testing::TempDir() + "/surface.conf";
    {
        std::ofstream f(path);
        f << "a.ini --camera 0 --threshold 20\n";
    }
    const std::string chain = testing::TempDir() + "/chain.conf";
    {
        std::ofstream f(chain);
        f << "--config " << path << "\n";
    }
    const std::string config = "--config=" + path;
    ExpandedArgs out;
    ASSERT_FALSE(ExpandConfig({"--json", "--config", path, "--threshold", "25"}, out));
    EXPECT_EQ(std::vector<std::string>(out.args.begin(), out.args.end()),
              (std::vector<std::string>{"--json", "a.ini", "--camera", "0", "--threshold", "20", "--threshold", "25"}));
    ASSERT_FALSE(ExpandConfig({config}, out));
    EXPECT_EQ(out.args.size(), 5u);
    EXPECT_EQ(*ExpandConfig({"--config"}, out), "--config needs a FILE");
    EXPECT_NE(ExpandConfig({"--config", path + ".missing"}, out)->find("cannot read the config file"),
              std::string::npos);
    EXPECT_NE(ExpandConfig({"--config", chain}, out)->find("names another config file"), std::string::npos);
    ASSERT_FALSE(ExpandConfig({"--", "--config", path}, out));  // after "--" nothing is an option
    EXPECT_EQ(out.args.size(), 3u);
}

TEST(HealthBoard, QuantilesOfTheLatestSamples) {
    SampleWindow w(4);
    EXPECT_EQ(w.Quantile(0.5), 0.0);
    for (const double v : {9.0, 1.0, 2.0, 3.0, 4.0, std::nan("")}) {  // 9 drops out, NaN is no sample
        w.Add(v);
    }
    const std::pair<double, double> cases[] = {{0.0, 1.0}, {0.25, 1.0}, {0.5, 2.0}, {0.99, 4.0}, {1.0, 4.0}};
    for (const auto& [q, expected] : cases) {
        EXPECT_EQ(w.Quantile(q), expected) << q;
    }
}

TEST(HealthBoard, FiguresPerCameraAndTheirMetrics) {
    const quarvel::Model model = quarvel::test::TouchTruth(cv::Size(640, 480));
    HealthBoard board({"left \"A\".ini", "right.ini"}, {"/dev/video0", "/dev/video2"}, {model, model});
    quarvel::TouchFrame touches;
    quarvel::Contact down;
    down.id = 4;
    down.x = 100;
    down.y = 200;
    down.state = quarvel::ContactState::Move;
    quarvel::Contact up = down;
    up.id = 3;
    up.state = quarvel::ContactState::Up;
    touches.contacts = {down, up};
    for (int n = 0; n < 10; ++n) {
        FrameRecord r;
        r.touches = &touches;
        r.processingMs = 1.0 + n;
        r.latencyMs = 2.0 + n;
        r.background.learned = true;
        r.background.threshold = 12.5;
        r.drift.measured = true;
        r.drift.camera = 3.0;
        r.drift.display = 10.25;
        board.Record(0, r);
    }
    quarvel::TouchFrame lost;
    lost.status.lost = true;
    FrameRecord r;
    r.touches = &lost;
    board.Record(1, r);
    board.Skipped(1, 3);
    board.Skipped(7, 1);  // no such camera: nothing happens
    OutputsHealth outputs;
    outputs.tuio = true;
    outputs.tuioFailing = true;
    board.SetOutputs(outputs);

    const std::string json = board.Json();
    for (const char* part : {R"("name": "left \"A\".ini", "source": "/dev/video0", "frames": 10)",
                             R"("processing_ms": {"median": 5.0000, "p99": 10.0000})",
                             R"("latency_ms": {"median": 6.0000, "p99": 11.0000})",
                             R"("background": {"state": "learned", "threshold": 12.5000)",
                             R"("camera_px": 3.0000, "display_px": 10.2500)",
                             R"("contacts": [{"id": 4, "x": 100.0000, "y": 200.0000)",
                             R"("frames": 1, "fps": 0.0000, "skipped": 3, "lost": 1)",
                             R"("tuio": "failing", "uinput": "off")"}) {
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    }
    EXPECT_EQ(json.find("\"id\": 3"), std::string::npos) << "a lifted contact is not down";

    const std::string metrics = board.Metrics();
    std::istringstream lines(metrics);
    const std::regex sample(R"(^[a-z_]+(\{[a-z_]+="([^"\\]|\\.)*"(,[a-z_]+="([^"\\]|\\.)*")*\})? -?[0-9.]+$)");
    int samples = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# ", 0) != 0) {
            EXPECT_TRUE(std::regex_match(line, sample)) << line;
            ++samples;
        }
    }
    EXPECT_GT(samples, 20);
    for (const char* part : {"quarvel_frames_total{camera=\"left \\\"A\\\".ini\"} 10\n",
                             "quarvel_frames_skipped_total{camera=\"right.ini\"} 3\n",
                             "quarvel_latency_milliseconds{camera=\"left \\\"A\\\".ini\",quantile=\"0.99\"} 11.0000\n",
                             "quarvel_contacts{camera=\"left \\\"A\\\".ini\"} 1\n",
                             "quarvel_output_up{output=\"tuio\"} 0\n"}) {
        EXPECT_NE(metrics.find(part), std::string::npos) << part;
    }
    EXPECT_NE(board.Summary().find("1 contacts, drift 10.2 display px"), std::string::npos) << board.Summary();
    EXPECT_TRUE(board.ViewJpeg(0).empty());
    board.SetView(0, cv::Mat(480, 640, CV_8UC1, cv::Scalar(40)), touches.contacts);
    const std::vector<unsigned char> jpeg = board.ViewJpeg(0);
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg[0], 0xff);
    EXPECT_TRUE(board.ViewJpeg(2).empty());
}

}  // namespace
