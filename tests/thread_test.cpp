// CorrectPoint only reads: several threads correcting points on one loaded
// instance get exactly the single-threaded results. Built with
// ThreadSanitizer, this also proves there is no data race.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/display_size.h"
#include "support/fixtures.h"
#include "support/test_peer.h"
#include "support/xvfb.h"

namespace {

TEST(Threads, ConcurrentCorrectionMatchesSequential) {
    const Quarvel q = QuarvelTestPeer::Loaded(
        1280, 720, 1500.0f, cv::Matx33f(1.02f, 0.01f, -5, 0.005f, 0.98f, 3, 1e-5f, 2e-5f, 1));
    constexpr int kThreads = 4;
    constexpr int kPoints = 40000;
    std::vector<CvPoint> input(kPoints);
    std::vector<CvPoint> expected(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        input[i] = cvPoint((i * 37) % 1400 - 60, (i * 53) % 800 - 40);
        expected[i] = q.CorrectPoint(input[i]);
    }
    std::vector<std::vector<CvPoint>> results(kThreads, std::vector<CvPoint>(kPoints));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the points from a different start.
            for (int n = 0; n < kPoints; ++n) {
                const int i = (n + t * kPoints / kThreads) % kPoints;
                results[t][i] = q.CorrectPoint(input[i]);
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPoints; ++i) {
            ASSERT_EQ(results[t][i].x, expected[i].x) << t << ":" << i;
            ASSERT_EQ(results[t][i].y, expected[i].y) << t << ":" << i;
        }
    }
}

int HostsOwnHandler(Display*, XErrorEvent*) { return 0; }

TEST(Threads, LoadsOnSeveralThreadsLeaveTheHostsXlibHandlerInPlace) {
    quarvel::test::Xvfb server("1024x768x24", true);
    ASSERT_TRUE(server.running()) << "Xvfb did not start";
    setenv("DISPLAY", server.name().c_str(), 1);
    // The real platform, not the tests' chosen size.
    const auto previous = quarvel::detail::SetDisplaySizeSource(nullptr);
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
    quarvel::detail::SetDisplaySizeSource(previous);
    unsetenv("DISPLAY");
}

}  // namespace
