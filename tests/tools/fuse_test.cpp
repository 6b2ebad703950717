// A wall across machines on one: each member a process of its own
// replaying its camera's recording in real time, in step, sending TUIO
// over loopback UDP to the hub (quarvel fuse), itself a process; judged
// against where the fingers truly are.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "support/ir_camera.h"
#include "support/process.h"
#include "support/tool.h"
#include "support/wall_rig.h"

namespace {

using quarvel::test::ChildProcess;
using quarvel::test::ScriptedTouch;

// The members replay in real time: an instrumented build (sanitizers,
// coverage) cannot track 30 frames a second, and its frames would reach
// the hub stale; it replays at 10.
#ifdef QUARVEL_INSTRUMENTED
constexpr double kFps = 10.0;
#else
constexpr double kFps = 30.0;
#endif

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A UDP port nothing listens on now.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

void SendTo(int port, const std::string& bytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(fd);
}

struct Line {
    double t = 0.0;
    struct Touch {
        long long id;
        cv::Point2d at;
        std::string state;
    };
    std::vector<Touch> contacts;
};

std::vector<Line> ReadHub(ChildProcess& hub) {
    static const std::regex head(R"re(^\{"frame": \d+, "t": ([0-9.]+),)re");
    static const std::regex one(R"re(\{"id": (\d+), "x": ([-0-9.]+), "y": ([-0-9.]+), [^}]*"state": "(\w+)"\})re");
    std::vector<Line> lines;
    for (std::string text; hub.ReadLine(text);) {
        std::smatch m;
        if (!std::regex_search(text, m, head)) {
            ADD_FAILURE() << text;
            continue;
        }
        Line line;
        line.t = std::stod(m[1]);
        for (auto it = std::sregex_iterator(text.begin(), text.end(), one); it != std::sregex_iterator(); ++it) {
            line.contacts.push_back({std::stoll((*it)[1]), {std::stod((*it)[2]), std::stod((*it)[3])}, (*it)[4]});
        }
        lines.push_back(line);
    }
    return lines;
}

// The hub's lines read as they come (a hub whose output nobody reads
// would find standard output full), until it ends.
class HubReader {
public:
    explicit HubReader(ChildProcess& hub) : thread_([this, &hub] { lines_ = ReadHub(hub); }) {}
    std::vector<Line> Finish() {
        thread_.join();
        return lines_;
    }

private:
    std::vector<Line> lines_;
    std::thread thread_;
};

class WallMembers : public quarvel::test::ToolTest {
protected:
    // Each camera's recording of the script, and its parameter file.
    void Record(const std::vector<ScriptedTouch>& script, int frames) {
        for (int k = 0; k < rig_.cameras(); ++k) {
            const std::filesystem::path folder = dir.path() / ("member" + std::to_string(k));
            std::filesystem::create_directories(folder);
            for (int f = 0; f < frames; ++f) {
                std::vector<cv::Point2d> down;
                for (const ScriptedTouch& s : script) {
                    if (s.Down(f)) {
                        down.push_back(s.at(f));
                    }
                }
                char name[32];
                std::snprintf(name, sizeof name, "%04d.png", f);
                ASSERT_TRUE(cv::imwrite((folder / name).string(), rig_.Render(k, f, down), {cv::IMWRITE_PNG_COMPRESSION, 1}));
            }
            params_.push_back((folder / "wall.ini").string());
            ASSERT_TRUE(rig_.WriteParams(k, params_.back()));
            videos_.push_back((folder / "%04d.png").string());
        }
    }
    std::unique_ptr<ChildProcess> Hub(int port) {
        return std::make_unique<ChildProcess>(
            tool_, std::vector<std::string>{"fuse", "--listen", "127.0.0.1:" + std::to_string(port), "--member",
                                            "left=" + params_[0], "--member", "right=" + params_[1], "--display",
                                            "1920x1080", "--json"});
    }
    std::unique_ptr<ChildProcess> Member(int k, int port, double startAt) {
        char at[32];
        std::snprintf(at, sizeof at, "%.3f", startAt);
        return std::make_unique<ChildProcess>(
            tool_, std::vector<std::string>{"track", params_[static_cast<std::size_t>(k)], "--video",
                                            videos_[static_cast<std::size_t>(k)], "--realtime", "--start-at", at,
                                            "--tuio", "127.0.0.1:" + std::to_string(port), "--source",
                                            k == 0 ? "left" : "right", "--frames-per-second", std::to_string(kFps)});
    }
    quarvel::test::WallRig rig_{quarvel::test::WallLayout()};
    std::vector<std::string> params_;
    std::vector<std::string> videos_;
};

ScriptedTouch Still(int first, int last, cv::Point2d at) { return {first, last, [at](int) { return at; }}; }

TEST_F(WallMembers, TwoMembersInStepAreOneSurfaceAtTheHub) {
    const std::vector<ScriptedTouch> script = {
        {20, 120, [](int f) { return cv::Point2d(500.0 + 9.0 * (f - 20), 500.0); }},  // across the seam
        Still(30, 130, {960.0, 800.0}),                                                 // in the overlap
        Still(25, 125, {300.0, 300.0}),                                                 // the left camera's alone
    };
    Record(script, 150);
    const int port = FreePort();
    auto hub = Hub(port);
    HubReader reader(*hub);
    const double start = UnixNow() + 1.5;
    auto left = Member(0, port, start);
    auto right = Member(1, port, start);
    EXPECT_EQ(left->Wait().status, 0);
    EXPECT_EQ(right->Wait().status, 0);
    // What a hub must never trust: a packet that is no bundle, a bundle
    // with nothing in it.
    SendTo(port, std::string("#bundle\0\0\0\0\0\0\0\0\1", 16));
    SendTo(port, "not a bundle");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    hub->Signal(SIGINT);
    const std::vector<Line> lines = reader.Finish();
    const quarvel::test::ProcessResult end = hub->Wait();
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_NE(end.err.find("2 malformed"), std::string::npos) << end.err;
    ASSERT_GT(lines.size(), 100u);
    std::map<std::size_t, std::set<long long>> idsOf;
    int beyond = 0;
    for (const Line& line : lines) {
        const double f = (line.t - start) * kFps;
        const int frame = static_cast<int>(std::floor(f));
        for (const Line::Touch& c : line.contacts) {
            if (c.state == "up") {
                continue;
            }
            // The finger it is on: the nearest down about then. The hub
            // fuses a frame when it arrives and takes frames up to 0.5 s
            // old (a loaded machine delivers them that late). A lift is
            // reported two frames late, the coasting; and the hub carries
            // a contact along its motion to when its frame arrived (at
            // most 0.1 s), past the end of the finger's path.
            std::size_t best = script.size();
            double nearest = 30.0;
            const int late = static_cast<int>(std::ceil(0.5 * kFps)) + 2;
            const int carried = static_cast<int>(std::ceil(0.1 * kFps)) + (c.state == "coasting" ? 2 : 0);
            for (std::size_t s = 0; s < script.size(); ++s) {
                for (int g = frame - late; g <= frame + 2; ++g) {
                    const bool on = script[s].Down(g) || (g > script[s].last && script[s].Down(g - carried));
                    if (on && cv::norm(script[s].at(g) - c.at) < nearest) {
                        nearest = cv::norm(script[s].at(g) - c.at);
                        best = s;
                    }
                }
            }
            if (best == script.size()) {
                ++beyond;
                ADD_FAILURE() << "a contact on no finger at frame " << f << ": " << c.at;
                continue;
            }
            idsOf[best].insert(c.id);
        }
    }
    EXPECT_EQ(beyond, 0);
    ASSERT_EQ(idsOf.size(), script.size());
    for (const auto& [finger, ids] : idsOf) {
        EXPECT_EQ(ids.size(), 1u) << "finger " << finger << ": one id across the seam, no duplicate";
    }
}

TEST_F(WallMembers, AKilledMemberLosesOnlyWhatItAloneSaw) {
#ifdef QUARVEL_INSTRUMENTED
    // When the lift comes is the point here, and an instrumented member
    // falls behind real time (its frames reach the hub stale).
    GTEST_SKIP() << "the timing of a lift needs a plain build";
#endif
    const std::vector<ScriptedTouch> script = {
        Still(10, 200, {960.0, 700.0}),  // resting in the overlap
        Still(10, 200, {300.0, 300.0}),  // seen by the left member alone
    };
    Record(script, 200);
    const int port = FreePort();
    auto hub = Hub(port);
    HubReader reader(*hub);
    const double start = UnixNow() + 1.5;
    auto left = Member(0, port, start);
    auto right = Member(1, port, start);
    std::this_thread::sleep_for(std::chrono::duration<double>(start + 120 / kFps - UnixNow()));  // 4 s at 30
    const double killed = UnixNow();
    left->Signal(SIGKILL);
    left->Wait();
    EXPECT_EQ(right->Wait().status, 0);
    hub->Signal(SIGINT);
    const std::vector<Line> lines = reader.Finish();
    hub->Wait();
    std::set<long long> resting;
    double lifted = -1.0;
    for (const Line& line : lines) {
        for (const Line::Touch& c : line.contacts) {
            if (cv::norm(c.at - script[0].at(0)) < 5.0 && c.state != "up" && line.t < start + 199 / kFps) {
                resting.insert(c.id);
            }
            if (cv::norm(c.at - script[1].at(0)) < 5.0 && c.state == "up" && lifted < 0) {
                lifted = line.t;
            }
        }
    }
    EXPECT_EQ(resting.size(), 1u) << "the resting finger keeps its id";
    ASSERT_GT(lifted, 0.0) << "the finger only the killed member saw lifts";
    EXPECT_GT(lifted, killed);
    EXPECT_LT(lifted - killed, 1.0);
    std::printf("lifted %.3f s after the kill\n", lifted - killed);
}

}  // namespace
