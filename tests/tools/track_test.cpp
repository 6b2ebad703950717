// quarvel track and calibrate --touch on image sequences recorded from the
// simulated infrared camera.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <lo/lo.h>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

#include "support/ir_camera.h"
#include "support/synthetic.h"
#include "support/tool.h"
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
        R"re(\{"frame": (\d+), "contacts": \[((\{"id": \d+, "x": [-0-9.]+, "y": [-0-9.]+, "cx": [-0-9.]+, )re"
        R"re("cy": [-0-9.]+, "area": \d+, "state": "(down|move|up)"\}(, )?)*)\]\})re");
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
    // One frame late, moving while down, up once the frame after the last.
    const auto& drag = history[1];
    EXPECT_EQ(drag.front(), std::make_pair(19L, std::string("down")));
    EXPECT_EQ(drag.back(), std::make_pair(41L, std::string("up")));
    EXPECT_EQ(drag.size(), 41u - 19u + 1u);
    EXPECT_EQ(history[2].front(), std::make_pair(26L, std::string("down")));
    EXPECT_EQ(history[2].back(), std::make_pair(51L, std::string("up")));
}

TEST_F(ToolTrack, TuioBundlesCarryTheJsonPositions) {
    lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    ASSERT_NE(server, nullptr);
    struct Message {
        std::string command;
        std::vector<double> values;
    };
    std::vector<Message> received;
    lo_server_add_method(
        server, "/tuio/2Dcur", nullptr,
        [](const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) -> int {
            // liblo's arguments sit at 4-byte offsets in the message: read
            // them as bytes, not through the 8-byte-aligned lo_arg.
            Message m;
            m.command = types[0] == 's' ? reinterpret_cast<const char*>(argv[0]) : "";
            for (int i = 1; i < argc; ++i) {
                std::int32_t integer = 0;
                float real = 0;
                std::memcpy(&integer, argv[i], sizeof integer);
                std::memcpy(&real, argv[i], sizeof real);
                m.values.push_back(types[i] == 'i' ? integer : types[i] == 'f' ? real : 0.0);
            }
            static_cast<std::vector<Message>*>(data)->push_back(m);
            return 0;
        },
        &received);
    const std::string port = std::to_string(lo_server_get_port(server));

    const std::string frames = Record(TwoFingers(), 60);
    const auto r = Run({"track", params_, "--video", frames, "--display", "1920x1080", "--json", "--tuio",
                        "127.0.0.1:" + port});
    ASSERT_EQ(r.status, 0) << r.err;
    while (lo_server_recv_noblock(server, 200) > 0) {
    }
    lo_server_free(server);

    // Per frame: source, alive, one set per contact down, fseq.
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 60u);
    std::size_t next = 0;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        long frame = -1;
        std::vector<JsonContact> contacts;
        ASSERT_TRUE(ParseLine(lines[n], frame, contacts));
        ASSERT_LT(next + 2, received.size()) << "frame " << n;
        EXPECT_EQ(received[next++].command, "source");
        const Message alive = received[next++];
        ASSERT_EQ(alive.command, "alive");
        std::vector<double> ids;
        for (const JsonContact& c : contacts) {
            if (c.state == "up") {
                continue;
            }
            ids.push_back(c.id);
            ASSERT_LT(next, received.size());
            const Message& set = received[next++];
            ASSERT_EQ(set.command, "set");
            ASSERT_EQ(set.values.size(), 6u);
            EXPECT_EQ(set.values[0], c.id);
            EXPECT_NEAR(set.values[1], c.x / 1920.0, 1e-5) << lines[n];
            EXPECT_NEAR(set.values[2], c.y / 1080.0, 1e-5) << lines[n];
            // Speeds in display widths and heights per second, at the 30
            // frames a second an image sequence is taken to run at: the drag
            // moves 30 x 10 display pixels a frame, the held finger not at all.
            if (c.id == 1 && c.state == "move" && frame > 20) {
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
    EXPECT_EQ(next, received.size());
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
}

}  // namespace
