// Loads against X servers that go away or reset, each started by the test
// itself: the host survives, and a reachable server is never mistaken for
// no server.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

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

TEST(XServer, ADisplayNamingNoServerCostsALoadLittle) {
    TempDir dir;
    const std::string file = FittedFile(dir);
    setenv("DISPLAY", ":4711", 1);
    Quarvel q;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(q.ReadIniParam(file));
    const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    unsetenv("DISPLAY");
    EXPECT_EQ(q.GetLoadReport().display.source, quarvel::DisplaySource::Fallback);
    EXPECT_LT(ms, 120.0);
    std::printf("load with DISPLAY naming no server: %.1f ms\n", ms);
}

}  // namespace
