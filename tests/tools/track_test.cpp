// quarvel track and calibrate --touch on image sequences recorded from the
// simulated infrared camera.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <thread>
#include <chrono>
#include <atomic>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <lo/lo.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

#include "support/ir_camera.h"
#include "support/mjpeg_server.h"
#include "support/process.h"
#include "support/synthetic.h"
#include "support/tool.h"
#include "support/wall_rig.h"
#include "support/xvfb.h"

namespace {

using quarvel::test::ScriptedTouch;

class ToolTrack : public quarvel::test::ToolTest {
protected:
    ToolTrack() : camera_(quarvel::test::TouchTruth(cv::Size(640, 480)), quarvel::test::IrOptions()) {}

    void SetUp() override {
        ToolTest::SetUp();
        params_ = (dir.path() / "surface.ini").string();
        ASSERT_TRUE(quarvel::WriteParameterFile(params_, camera_.truth().params()));
    }

    // Records `frames` frames of the script as frames/%04d.png; returns
    // the sequence's name.
    std::string Record(const std::vector<ScriptedTouch>& script, int frames) {
        for (int f = 0; f < frames; ++f) {
            char name[32];
            std::snprintf(name, sizeof name, "%04d.png", f);
            EXPECT_TRUE(cv::imwrite((dir.path() / name).string(), camera_.Render(f, script)));
        }
        return (dir.path() / "%04d.png").string();
    }

    quarvel::test::IrCamera camera_;
    std::string params_;
};

// Two fingers: a drag down from frame 18 to 40, a finger held from 25 to 50.
std::vector<ScriptedTouch> TwoFingers() {
    return {{18, 40, [](int f) { return cv::Point2d(400.0 + 30.0 * (f - 18), 300.0 + 10.0 * (f - 18)); }},
            {25, 50, [](int) { return cv::Point2d(1400.5, 700.25); }}};
}

struct JsonContact {
    int id;
    double x, y, cx, cy;
    long area;
    std::string state;
};

// One --json line, checked against the exact format; false when it differs.
bool ParseLine(const std::string& line, long& frame, std::vector<JsonContact>& contacts) {
    static const std::regex whole(
        R"re(\{"frame": (\d+), "t": [0-9.]+, (?:"status": \{[^}]*\}, )?"contacts": \[)re"
        R"re(((\{"id": \d+, "x": [-0-9.]+, "y": [-0-9.]+, "cx": [-0-9.]+, )re"
        R"re("cy": [-0-9.]+, "area": \d+, "state": "(down|move|coasting|up)"\}(, )?)*)\]\})re");
    static const std::regex one(
        R"re(\{"id": (\d+), "x": ([-0-9.]+), "y": ([-0-9.]+), "cx": ([-0-9.]+), "cy": ([-0-9.]+), "area": (\d+), )re"
        R"re("state": "(\w+)"\})re");
    std::smatch m;
    if (!std::regex_match(line, m, whole)) {
        return false;
    }
    frame = std::stol(m[1]);
    contacts.clear();
    const std::string list = m[2];
    for (auto it = std::sregex_iterator(list.begin(), list.end(), one); it != std::sregex_iterator(); ++it) {
        const std::smatch& c = *it;
        contacts.push_back({std::stoi(c[1]), std::stod(c[2]), std::stod(c[3]), std::stod(c[4]), std::stod(c[5]),
                            std::stol(c[6]), c[7]});
    }
    return true;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(ToolTrack, JsonLinesFollowEachFingerOnTheDisplay) {
    const auto script = TwoFingers();
    const std::string frames = Record(script, 60);
    const std::string picture = (dir.path() / "shown.png").string();
    const auto r = Run({"track", params_, "--video", frames, "--display", "1920x1080", "--json", "--show", "-o",
                        picture});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("no X display can be reached"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("frames 60, contacts 2,"), std::string::npos) << r.err;
    EXPECT_EQ(cv::imread(picture).size(), cv::Size(640, 480));

    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 60u);  // empty frames included
    std::map<int, std::vector<std::pair<long, std::string>>> history;  // id -> (frame, state)
    for (std::size_t n = 0; n < lines.size(); ++n) {
        long frame = -1;
        std::vector<JsonContact> contacts;
        ASSERT_TRUE(ParseLine(lines[n], frame, contacts)) << lines[n];
        EXPECT_EQ(frame, static_cast<long>(n));
        for (const JsonContact& c : contacts) {
            history[c.id].push_back({frame, c.state});
            const ScriptedTouch& finger = script[c.id == 1 ? 0 : 1];
            if (c.state == "coasting") {
                EXPECT_GT(frame, finger.last) << "a finger in view never coasts";
                continue;  // where its motion would have taken it
            }
            // Down and moving contacts sit on their finger; a lifted one
            // where the finger was last seen.
            const int at = c.state == "up" ? finger.last : static_cast<int>(frame);
            const cv::Point2d truth = finger.at(at);
            EXPECT_NEAR(c.x, truth.x, 0.3) << lines[n];
            EXPECT_NEAR(c.y, truth.y, 0.3) << lines[n];
            const cv::Point2d seen = camera_.CameraOf(truth);
            EXPECT_NEAR(c.cx, seen.x, 0.1) << lines[n];
            EXPECT_NEAR(c.cy, seen.y, 0.1) << lines[n];
            EXPECT_GT(c.area, 20);
        }
    }
    ASSERT_EQ(history.size(), 2u);
    // One frame late, moving while down, coasting for the two frames a
    // contact may go unseen, then up once.
    const auto& drag = history[1];
    EXPECT_EQ(drag.front(), std::make_pair(19L, std::string("down")));
    EXPECT_EQ(drag.back(), std::make_pair(43L, std::string("up")));
    EXPECT_EQ(drag.size(), 43u - 19u + 1u);
    EXPECT_EQ(history[2].front(), std::make_pair(26L, std::string("down")));
    EXPECT_EQ(history[2].back(), std::make_pair(53L, std::string("up")));
}

// What a TUIO receiver gets: the bundles liblo's server reads, each
// message's command and numbers.
struct TuioMessage {
    std::string command;
    std::vector<double> values;
};

class TuioReceiver {
public:
    TuioReceiver() : server_(lo_server_new_with_proto(nullptr, LO_UDP, nullptr)) {
        if (server_ != nullptr) {
            lo_server_add_method(server_, "/tuio/2Dcur", nullptr, &TuioReceiver::Take, &received_);
        }
    }
    ~TuioReceiver() {
        if (server_ != nullptr) {
            lo_server_free(server_);
        }
    }
    bool ready() const { return server_ != nullptr; }
    std::string port() const { return std::to_string(lo_server_get_port(server_)); }
    const std::vector<TuioMessage>& Drain() {
        while (lo_server_recv_noblock(server_, 200) > 0) {
        }
        return received_;
    }

private:
    static int Take(const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
        // liblo's arguments sit at 4-byte offsets in the message: read
        // them as bytes, not through the 8-byte-aligned lo_arg.
        TuioMessage m;
        m.command = types[0] == 's' ? reinterpret_cast<const char*>(argv[0]) : "";
        for (int i = 1; i < argc; ++i) {
            std::int32_t integer = 0;
            float real = 0;
            std::memcpy(&integer, argv[i], sizeof integer);
            std::memcpy(&real, argv[i], sizeof real);
            m.values.push_back(types[i] == 'i' ? integer : types[i] == 'f' ? real : 0.0);
        }
        static_cast<std::vector<TuioMessage>*>(data)->push_back(m);
        return 0;
    }
    lo_server server_;
    std::vector<TuioMessage> received_;
};

// Per frame: source, alive, one set per contact down, fseq; positions are
// the JSON's over the display's size.
void ExpectBundlesMatch(const std::vector<TuioMessage>& received, const std::vector<std::string>& lines,
                        cv::Size display, bool drag) {
    std::size_t next = 0;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        long frame = -1;
        std::vector<JsonContact> contacts;
        ASSERT_TRUE(ParseLine(lines[n], frame, contacts));
        ASSERT_LT(next + 2, received.size()) << "frame " << n;
        EXPECT_EQ(received[next++].command, "source");
        const TuioMessage alive = received[next++];
        ASSERT_EQ(alive.command, "alive");
        std::vector<double> ids;
        for (const JsonContact& c : contacts) {
            if (c.state == "up") {
                continue;
            }
            ids.push_back(c.id);
            ASSERT_LT(next, received.size());
            const TuioMessage& set = received[next++];
            ASSERT_EQ(set.command, "set");
            ASSERT_EQ(set.values.size(), 6u);
            EXPECT_EQ(set.values[0], c.id);
            EXPECT_NEAR(set.values[1], c.x / display.width, 1e-5) << lines[n];
            EXPECT_NEAR(set.values[2], c.y / display.height, 1e-5) << lines[n];
            EXPECT_GE(set.values[1], 0.0);
            EXPECT_LE(set.values[1], 1.0);
            // Speeds in display widths and heights per second, at the 30
            // frames a second an image sequence is taken to run at: the drag
            // moves 30 x 10 display pixels a frame, the held finger not at all.
            if (drag && c.id == 1 && c.state == "move" && frame > 20) {
                EXPECT_NEAR(set.values[3], 30.0 * 30 / 1920, 0.01) << lines[n];
                EXPECT_NEAR(set.values[4], 10.0 * 30 / 1080, 0.01) << lines[n];
            }
            if (c.id == 2 && c.state == "move") {
                EXPECT_NEAR(set.values[3], 0.0, 0.01);
            }
        }
        EXPECT_EQ(alive.values, ids);
        ASSERT_LT(next, received.size());
        EXPECT_EQ(received[next].command, "fseq");
        EXPECT_EQ(received[next++].values, std::vector<double>{static_cast<double>(n + 1)});
    }
    // And one more at the end, with nothing alive.
    ASSERT_EQ(next + 3, received.size());
    EXPECT_EQ(received[next + 1].command, "alive");
    EXPECT_TRUE(received[next + 1].values.empty());
}

// Pixels of the display's outline that --show draws (BGR 80, 200, 80).
int OutlinePixels(const cv::Mat& picture) {
    cv::Mat green;
    cv::inRange(picture, cv::Scalar(60, 180, 60), cv::Scalar(100, 220, 100), green);
    return cv::countNonZero(green);
}

TEST_F(ToolTrack, TuioBundlesCarryTheJsonPositions) {
    const std::string frames = Record(TwoFingers(), 60);
    // The same calibration, and one without a barrel (the matrix alone, as
    // calibrate chooses when the lens allows): both record their display,
    // which tracking takes when none is named.
    quarvel::CalibrationParams flat = camera_.truth().params();
    flat.focalZ = 0.0f;
    const std::string noBarrel = (dir.path() / "flat.ini").string();
    ASSERT_TRUE(quarvel::WriteParameterFile(noBarrel, flat));
    for (const std::string& params : {params_, noBarrel}) {
        TuioReceiver receiver;
        ASSERT_TRUE(receiver.ready());
        const std::string picture = (dir.path() / "shown.png").string();
        const auto r = Run({"track", params, "--video", frames, "--json", "--tuio", "127.0.0.1:" + receiver.port(),
                            "-o", picture});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("touches for a 1920 x 1080 display (the one the parameter file was calibrated for)"),
                  std::string::npos)
            << r.err;
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(lines.size(), 60u);
        ExpectBundlesMatch(receiver.Drain(), lines, cv::Size(1920, 1080), params == params_);
        EXPECT_GT(OutlinePixels(cv::imread(picture)), 500) << params << ": the display's outline is drawn";
    }
}

// A finger still down when the video ends lifts through every output: a
// last JSON line with it "up", a TUIO bundle with nothing alive.
TEST_F(ToolTrack, TheVideosEndLiftsEveryTouch) {
    const std::vector<ScriptedTouch> script = {{18, 29, [](int) { return cv::Point2d(900.5, 500.25); }}};
    const std::string frames = Record(script, 30);
    TuioReceiver receiver;
    ASSERT_TRUE(receiver.ready());
    const auto r = Run({"track", params_, "--video", frames, "--json", "--tuio", "127.0.0.1:" + receiver.port()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 31u);
    long frame = -1;
    std::vector<JsonContact> contacts;
    ASSERT_TRUE(ParseLine(lines[29], frame, contacts));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].state, "move");
    ASSERT_TRUE(ParseLine(lines[30], frame, contacts));
    EXPECT_EQ(frame, 30);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(contacts[0].state, "up");
    EXPECT_NEAR(contacts[0].x, 900.5, 0.3);
    const std::vector<TuioMessage>& received = receiver.Drain();
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received[received.size() - 2].command, "alive");
    EXPECT_TRUE(received[received.size() - 2].values.empty());
}

// The ids in a --json line that are in `state`.
std::vector<int> IdsIn(const std::string& line, const std::string& state) {
    long frame = -1;
    std::vector<JsonContact> contacts;
    std::vector<int> ids;
    if (ParseLine(line, frame, contacts)) {
        for (const JsonContact& c : contacts) {
            if (c.state == state) {
                ids.push_back(c.id);
            }
        }
    }
    return ids;
}

// Stopped by SIGTERM (a service manager stopping it) while a finger is
// down on a network camera that never ends: the last line lifts it.
TEST_F(ToolTrack, StoppedBySigtermItLiftsEveryTouch) {
    const ScriptedTouch finger{20, 1 << 30, [](int) { return cv::Point2d(900.5, 500.25); }};
    quarvel::test::MjpegServer camera([&](int n) { return camera_.Render(n, {finger}); }, {{-1, 0.0}});
    quarvel::test::ChildProcess tool(tool_, {"track", params_, "--camera", camera.url(), "--json"});
    std::string line;
    std::vector<int> down;
    for (int lines = 0; down.empty() && lines < 600 && tool.ReadLine(line); ++lines) {
        down = IdsIn(line, "move");
    }
    ASSERT_EQ(down.size(), 1u) << "the finger never showed";
    tool.Signal(SIGTERM);
    const quarvel::test::ProcessResult r = tool.Wait();
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> rest = Lines(r.out);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(IdsIn(rest.back(), "up"), down) << rest.back();
    EXPECT_NE(r.err.find("stopped by SIGTERM; every touch lifted"), std::string::npos) << r.err;
}

// A network camera that drops out: every touch lifts at once, the camera
// is opened again until it is back, tracking goes on under new ids; when
// it stays gone past --camera-timeout the run ends with status 2, the
// touches lifted.
TEST_F(ToolTrack, ACameraThatFailsIsOpenedAgainAndEveryTouchLifts) {
    const ScriptedTouch finger{20, 1 << 30, [](int) { return cv::Point2d(900.5, 500.25); }};
    quarvel::test::MjpegServer camera([&](int n) { return camera_.Render(n, {finger}); },
                                      {{60, 0.3}, {40, 0.0}});
    const auto r = Run({"track", params_, "--camera", camera.url(), "--json", "--camera-timeout", "1.5"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("stopped delivering frames: every touch lifted; opening it again"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("is back after"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stayed gone; giving up"), std::string::npos) << r.err;
    // The contact's story: down (one id), up at the drop-out, down again
    // under a new id once the camera is back, up at the end.
    std::vector<std::pair<int, std::string>> story;
    for (const std::string& l : Lines(r.out)) {
        for (const std::string state : {"down", "up"}) {
            for (const int id : IdsIn(l, state)) {
                story.emplace_back(id, state);
            }
        }
    }
    const std::vector<std::pair<int, std::string>> expected = {{1, "down"}, {1, "up"}, {2, "down"}, {2, "up"}};
    EXPECT_EQ(story, expected) << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0) << r.err;
}

// Under a service manager the watchdog is fed by frames, not a timer: a
// camera that stops delivering stops the pings (so the service would be
// restarted), and they come back with the frames.
TEST_F(ToolTrack, TheWatchdogStopsWhenTheFramesStop) {
    quarvel::test::MjpegServer camera([&](int n) { return camera_.Render(n, {}); }, {{300, 2.5}, {300, 0.0}});
    const std::string path = (dir.path() / "notify").string();
    const int listener = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<double> pings;  // seconds since the start
    std::atomic<bool> done{false};
    const auto start = std::chrono::steady_clock::now();
    std::thread hear([&] {
        char message[512];
        while (!done) {
            pollfd ready{listener, POLLIN, 0};
            if (poll(&ready, 1, 50) > 0) {
                const ssize_t n = recv(listener, message, sizeof message - 1, 0);
                if (n > 0 && std::string(message, static_cast<std::size_t>(n)).find("WATCHDOG=1") != std::string::npos) {
                    pings.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
                }
            }
        }
    });
    const auto r = quarvel::test::RunProcess(tool_, {"track", params_, "--camera", camera.url(), "--camera-timeout", "4"},
                                             "", {"NOTIFY_SOCKET=" + path, "WATCHDOG_USEC=400000"});
    done = true;
    hear.join();
    close(listener);
    EXPECT_EQ(r.status, 2) << r.err;  // the camera stayed gone at the end
    ASSERT_GE(pings.size(), 6u) << r.err;
    double widest = 0.0;
    std::size_t before = 0;
    for (std::size_t k = 1; k < pings.size(); ++k) {
        if (pings[k] - pings[k - 1] > widest) {
            widest = pings[k] - pings[k - 1];
            before = k;
        }
    }
    EXPECT_GE(widest, 2.0) << "pings went on while no frame came";
    EXPECT_GE(before, 3u) << "pings while the first frames flowed";
    EXPECT_GE(pings.size() - before, 3u) << "pings once the frames came back";
}

// Camera settings a source does not take are said, and tracking goes on
// with what it gives; a device that is not there is named with what to do.
TEST_F(ToolTrack, CameraSettingsASourceDoesNotTakeAreSaid) {
    quarvel::test::MjpegServer camera([&](int n) { return camera_.Render(n, {}); }, {{20, 0.0}});
    const auto r = Run({"track", params_, "--camera", camera.url(), "--camera-size", "1280x720", "--exposure", "auto",
                        "--camera-timeout", "0.3"});
    EXPECT_NE(r.err.find("--exposure and --gain are for cameras (/dev/videoN): this source keeps its own"),
              std::string::npos) << r.err;
    EXPECT_NE(r.out.find("frames 20,"), std::string::npos) << r.out;
    const auto missing = Run({"track", params_, "--camera", "/dev/video977"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("/dev/video977: no such camera; is it plugged in?"), std::string::npos) << missing.err;
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--camera-format", "MJPEG"}, {"--camera-size", "big"}, {"--gain", "-1"}}) {
        std::vector<std::string> args = {"track", params_, "--camera", camera.url()};
        args.insert(args.end(), wrong.begin(), wrong.end());
        EXPECT_EQ(Run(args).status, 2) << wrong[0];
    }
}

// A receiver at an IPv6 address gets the same bundles.
TEST_F(ToolTrack, TuioReachesAnIpv6Receiver) {
    const int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string frames = Record(TwoFingers(), 30);
    const auto r = Run({"track", params_, "--video", frames, "--tuio", "[::1]:" + std::to_string(ntohs(address.sin6_port))});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("not sent"), std::string::npos) << r.err;
    int bundles = 0;
    char packet[2048];
    pollfd waiting{fd, POLLIN, 0};
    while (poll(&waiting, 1, 200) > 0) {
        const ssize_t n = recv(fd, packet, sizeof packet, 0);
        ASSERT_GT(n, 16);
        EXPECT_EQ(std::string(packet, 8), std::string("#bundle\0", 8));
        ++bundles;
    }
    close(fd);
    EXPECT_EQ(bundles, 30 + 1);  // and the last, with nothing alive
}

TEST_F(ToolTrack, OutputsThatCannotOpenAreUsageErrors) {
    const std::string frames = Record({}, 2);
    if (access("/dev/uinput", W_OK) != 0) {
        const auto r = Run({"track", params_, "--video", frames, "--uinput"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("cannot create the touchscreen: /dev/uinput: "), std::string::npos) << r.err;
    }
    EXPECT_EQ(Run({"track", params_, "--video", frames, "--tuio", "localhost"}).status, 2);
    EXPECT_EQ(Run({"track", params_, "--video", frames, "--tuio", "no.such.host.invalid:3333"}).status, 2);
    EXPECT_EQ(Run({"track", params_}).status, 2);
    EXPECT_EQ(Run({"track", params_, "--video", frames, "--camera", "0"}).status, 2);
    EXPECT_EQ(Run({"track", params_, "--video", frames, "--min-area", "50", "--max-area", "10"}).status, 2);
    const auto missing = Run({"track", params_, "--video", (dir.path() / "none%04d.png").string()});
    EXPECT_EQ(missing.status, 2);
}

TEST_F(ToolTrack, CalibrateByTouchingTwentyTargetsWithAMisclick) {
    // The person waits 5 frames after each target appears, holds it for
    // 16 frames, then lifts; the eighth touch lands 150 pixels off.
    const std::vector<cv::Point2d> targets = quarvel::TargetGrid(5, 4, cv::Size(1920, 1080));
    std::vector<ScriptedTouch> script;
    int start = 20;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const cv::Point2d at = targets[i] + (i == 7 ? cv::Point2d(150, -90) : cv::Point2d());
        script.push_back({start, start + 15, [at](int) { return at; }});
        start += 21;
    }
    const std::string frames = Record(script, start + 3);
    const std::string out = (dir.path() / "touch.ini").string();
    const std::vector<std::string> args = {"calibrate", "--camera", frames, "--touch", "5x4", "--display", "1920x1080",
                                           "-o", out};

    const auto headless = Run(args);
    EXPECT_EQ(headless.status, 2);
    EXPECT_NE(headless.err.find("no X display can be reached"), std::string::npos) << headless.err;

    quarvel::test::Xvfb server("1280x800x24", true);
    ASSERT_TRUE(server.running());
    const auto r = quarvel::test::RunProcess(tool_, args, "", {"DISPLAY=" + server.name()});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("target 1 of 20 at 240 135: touch it and hold still"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("target 20 measured at camera"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("rejected"), std::string::npos) << r.out;  // the misclick, in the table
    EXPECT_NE(r.out.find("19 of 20 pairs used"), std::string::npos) << r.out;
    const quarvel::ParameterFile written = quarvel::ReadParameterFile(out);
    ASSERT_TRUE(written.read);
    EXPECT_LE(quarvel::test::HeldOutRms(camera_.truth(), quarvel::Model(written.params), true), 0.3);

    // The blob options reach the calibration: a threshold above the
    // fingers' brightness measures nothing.
    std::vector<std::string> blind = args;
    blind.insert(blind.end(), {"--threshold", "150"});
    const auto unseen = quarvel::test::RunProcess(tool_, blind, "", {"DISPLAY=" + server.name()});
    EXPECT_EQ(unseen.status, 1) << unseen.err << unseen.out;
    EXPECT_NE(unseen.err.find("ended after 0 of 20 targets"), std::string::npos) << unseen.err;
}

}  // namespace

namespace {

// Two cameras of a wall, each recorded to its own image sequence: one
// finger drags across the seam, another rests in the overlap.
TEST_F(ToolTrack, TwoCamerasOfAWallAreOneSurface) {
    quarvel::test::WallLayout layout;
    quarvel::test::WallRig rig(layout);
    const std::vector<ScriptedTouch> script = {
        {20, 79, [](int f) { return cv::Point2d(300.0 + 22.0 * (f - 20), 500.0); }},
        {30, 70, [](int) { return cv::Point2d(960.5, 800.25); }}};
    std::vector<std::string> args = {"track"};
    for (int k = 0; k < rig.cameras(); ++k) {
        const std::filesystem::path folder = dir.path() / ("camera" + std::to_string(k));
        std::filesystem::create_directories(folder);
        for (int f = 0; f < 90; ++f) {
            std::vector<cv::Point2d> down;
            for (const ScriptedTouch& s : script) {
                if (s.Down(f)) {
                    down.push_back(s.at(f));
                }
            }
            char name[32];
            std::snprintf(name, sizeof name, "%04d.png", f);
            ASSERT_TRUE(cv::imwrite((folder / name).string(), rig.Render(k, f, down), {cv::IMWRITE_PNG_COMPRESSION, 1}));
        }
        const std::string params = (folder / "wall.ini").string();
        ASSERT_TRUE(rig.WriteParams(k, params));
        args.insert(args.end(), {params, "--video", (folder / "%04d.png").string()});
    }
    args.push_back("--json");
    const auto r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("2 cameras fused into one surface"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("frames 90, contacts 2,"), std::string::npos) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 90u);
    double worst = 0.0;
    for (const std::string& line : lines) {
        long frame = -1;
        std::vector<JsonContact> contacts;
        ASSERT_TRUE(ParseLine(line, frame, contacts)) << line;
        for (const JsonContact& c : contacts) {
            if (c.state == "up" || c.state == "coasting") {
                continue;
            }
            const ScriptedTouch& finger = script[c.id == 1 ? 0 : 1];
            ASSERT_TRUE(finger.Down(static_cast<int>(frame))) << line;
            worst = std::max(worst, cv::norm(cv::Point2d(c.x, c.y) - finger.at(static_cast<int>(frame))));
        }
    }
    EXPECT_LT(worst, 0.5);
    // Refused: a camera without its source, cameras of both kinds, a window.
    const std::string a = args[1], b = args[4];
    EXPECT_EQ(Run({"track", a, "--video", args[3], b}).status, 2);
    EXPECT_EQ(Run({"track", a, "--video", args[3], b, "--camera", "0"}).status, 2);
    EXPECT_EQ(Run({"track", a, "--video", args[3], b, "--video", args[6], "--show"}).status, 2);
}

}  // namespace
