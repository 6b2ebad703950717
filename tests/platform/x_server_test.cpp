// Loads against X servers that go away or reset, each started by the test
// itself: the host survives, a reachable server is never mistaken for no
// server, and one that is gone costs a load almost nothing.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
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
        const pid_t child = fork();
        if (child == 0) {
            // The host: default SIGPIPE action, loading as fast as it can.
            setenv("DISPLAY", server.name().c_str(), 1);
            int seen = 0;
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
            while (std::chrono::steady_clock::now() < end) {
                Quarvel q;
                if (!q.ReadIniParam(file)) {
                    _exit(3);
                }
                seen += q.GetLoadReport().display.width == 640;
            }
            _exit(seen > 0 ? 0 : 4);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + 20 * trial));
        server.Kill();
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
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

// The median time of `loads` loads of `file`, in milliseconds; each must
// fall back.
double MedianLoadMs(const std::string& file, int loads) {
    std::vector<double> times;
    for (int i = 0; i < loads; ++i) {
        Quarvel q;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(q.ReadIniParam(file));
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        EXPECT_EQ(q.GetLoadReport().display.source, quarvel::DisplaySource::Fallback);
    }
    std::nth_element(times.begin(), times.begin() + loads / 2, times.end());
    return times[static_cast<std::size_t>(loads / 2)];
}

TEST(XServer, ADisplayNamingNoServerCostsALoadLittle) {
    TempDir dir;
    const std::string file = FittedFile(dir);
    setenv("DISPLAY", ":4711", 1);
    const double ms = MedianLoadMs(file, 20);
    unsetenv("DISPLAY");
    EXPECT_LT(ms, 2.0);
    std::printf("load with DISPLAY naming no server: %.2f ms\n", ms);
}

TEST(XServer, ALoadAgainstAServerThatIsGoneCostsLittle) {
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
    const double ms = MedianLoadMs(file, 50);
    unlink(path.c_str());
    unsetenv("DISPLAY");
    EXPECT_LT(ms, 2.0);
    std::printf("load against a killed server: %.2f ms (median of 50)\n", ms);
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
