// Loads against X servers that go away or reset, each started by the test
// itself: the host survives, a reachable server is never mistaken for no
// server, and one that is gone costs a load almost nothing.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <quarvel/quarvel.h>

#include "support/fixtures.h"
#include "support/xvfb.h"

namespace {

using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;
using quarvel::test::Xvfb;

// A calibration whose set-up asks the display.
std::string FittedFile(const TempDir& dir) {
    return dir.Write("p.ini", ToGbk(IniText(CalibrationLines(1000, 500, 3000.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"}))));
}

TEST(XServer, AHostLoadingWhileTheServerIsKilledSurvives) {
    TempDir dir;
    const std::string file = FittedFile(dir);
    for (int trial = 0; trial < 5; ++trial) {
        Xvfb server("640x480x24", true);
        ASSERT_TRUE(server.running()) << "Xvfb did not start";
        // The host says when it is loading (its first load reached the
        // server), the test says when the server is gone: no clock decides,
        // however loaded the machine.
        int loading[2];
        int killed[2];
        ASSERT_EQ(pipe(loading), 0);
        ASSERT_EQ(pipe(killed), 0);
        const pid_t child = fork();
        if (child == 0) {
            // The host: default SIGPIPE action, loading as fast as it can.
            close(loading[0]);
            close(killed[1]);
            setenv("DISPLAY", server.name().c_str(), 1);
            bool told = false;
            int afterKill = -1;  // loads since the test said the server is gone
            for (int loads = 0; afterKill < 20; ++loads) {
                Quarvel q;
                if (!q.ReadIniParam(file)) {
                    _exit(3);
                }
                if (!told && q.GetLoadReport().display.width == 640) {
                    told = write(loading[1], "l", 1) == 1;
                } else if (!told && loads == 1000) {
                    _exit(write(loading[1], "f", 1) == 1 ? 4 : 5);  // the server never answered
                }
                if (afterKill >= 0) {
                    ++afterKill;
                } else if (told) {
                    pollfd gone{killed[0], POLLIN, 0};
                    afterKill = poll(&gone, 1, 0) > 0 ? 0 : -1;
                }
            }
            _exit(0);
        }
        close(loading[1]);
        close(killed[0]);
        char byte = 0;
        ASSERT_EQ(read(loading[0], &byte, 1), 1);
        ASSERT_EQ(byte, 'l') << "trial " << trial << ": the host never reached the server";
        // A few loads more, so that the kill lands inside one.
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * trial));
        server.Kill();
        ASSERT_EQ(write(killed[1], "k", 1), 1);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        close(loading[0]);
        close(killed[1]);
        EXPECT_TRUE(WIFEXITED(status)) << "trial " << trial << ": host killed by signal "
                                       << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << "trial " << trial;
    }
}

TEST(XServer, AServerThatResetsAfterEachClientGivesEveryLoadItsSize) {
    TempDir dir;
    const std::string file = FittedFile(dir);
    Xvfb server("800x600x24", false);  // resets whenever its last client leaves
    ASSERT_TRUE(server.running());
    setenv("DISPLAY", server.name().c_str(), 1);
    // Each load waits out a reset of the server (about 65 ms on Xvfb), so
    // the default is a few hundred; QUARVEL_RESET_LOADS asks for more.
    const char* asked = std::getenv("QUARVEL_RESET_LOADS");
    const int kLoads = asked != nullptr ? std::atoi(asked) : 300;
    int fallbacks = 0;
    for (int i = 0; i < kLoads; ++i) {
        Quarvel q;
        ASSERT_TRUE(q.ReadIniParam(file));
        const quarvel::DisplayInfo d = q.GetLoadReport().display;
        fallbacks += d.source == quarvel::DisplaySource::Fallback || d.width != 800;
    }
    unsetenv("DISPLAY");
    EXPECT_EQ(fallbacks, 0) << "of " << kLoads << " loads";
    std::printf("resetting server: %d of %d loads fell back\n", fallbacks, kLoads);
}

// Loads with a DISPLAY that names no server, or a server that is gone,
// fall back at once. How little that costs is measured by the benchmarks
// (BM_LoadDisplayNamingNoServer, BM_LoadAgainstAGoneServer).
void ExpectEveryLoadFallsBack(const std::string& file, int loads) {
    for (int i = 0; i < loads; ++i) {
        Quarvel q;
        EXPECT_TRUE(q.ReadIniParam(file));
        EXPECT_EQ(q.GetLoadReport().display.source, quarvel::DisplaySource::Fallback);
    }
}

TEST(XServer, ADisplayNamingNoServerFallsBack) {
    TempDir dir;
    const std::string file = FittedFile(dir);
    setenv("DISPLAY", ":4711", 1);
    ExpectEveryLoadFallsBack(file, 20);
    unsetenv("DISPLAY");
}

TEST(XServer, ALoadAgainstAServerThatIsGoneFallsBack) {
    TempDir dir;
    const std::string file = FittedFile(dir);
    Xvfb server("640x480x24", true);
    ASSERT_TRUE(server.running());
    setenv("DISPLAY", server.name().c_str(), 1);
    {
        Quarvel q;
        ASSERT_TRUE(q.ReadIniParam(file));
        ASSERT_EQ(q.GetLoadReport().display.width, 640);  // it was there
    }
    server.Kill();
    // What a crashed server leaves behind: its socket file, nobody
    // listening on it.
    const std::string path = "/tmp/.X11-unix/X" + server.name().substr(1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(fd);
    ExpectEveryLoadFallsBack(file, 50);
    unlink(path.c_str());
    unsetenv("DISPLAY");
}

int HostsOwnHandler(Display*, XErrorEvent*) { return 0; }

TEST(XServerThreads, LoadsOnSeveralThreadsLeaveTheHostsXlibHandlerInPlace) {
    quarvel::test::Xvfb server("1024x768x24", true);
    ASSERT_TRUE(server.running()) << "Xvfb did not start";
    setenv("DISPLAY", server.name().c_str(), 1);
    XSetErrorHandler(&HostsOwnHandler);

    quarvel::test::TempDir dir;
    const std::string file = dir.Write("p.ini", quarvel::test::ToGbk(quarvel::test::IniText(
        quarvel::test::CalibrationLines(1000, 500, 3000.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"}))));
    std::vector<int> widths(2, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                Quarvel q;  // each thread its own instance
                if (q.ReadIniParam(file) && q.GetLoadReport().display.width == 1024) {
                    ++widths[t];
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ(widths[0], 50);
    EXPECT_EQ(widths[1], 50);
    // Installing another handler hands back the one in place: the host's.
    EXPECT_EQ(XSetErrorHandler(nullptr), &HostsOwnHandler);
    unsetenv("DISPLAY");
}



}  // namespace
