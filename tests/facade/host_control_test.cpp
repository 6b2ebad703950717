// What the host controls: the display size a load fits to, kept by copies,
// and what the load report says of it.
#include <gtest/gtest.h>

#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

using quarvel::LoadReport;
using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

TEST(HostDisplay, TheHostFixesTheDisplaySize) {
    // 1000 x 500 at f = 3000 corrects to about 1035 x 518: shrunk on an
    // 800 x 600 display, kept whole on the 1680 x 1050 the tests' platform
    // reports.
    TempDir dir;
    const std::string file = dir.Write("p.ini", ToGbk(IniText(CalibrationLines(
                                                    1000, 500, 3000.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"}))));
    Quarvel q;
    q.SetDisplaySize(800, 600);
    ASSERT_TRUE(q.ReadIniParam(file));
    LoadReport r = q.GetLoadReport();
    EXPECT_EQ(r.display.source, quarvel::DisplaySource::Host);
    EXPECT_EQ(r.display.width, 800);
    EXPECT_LT(q.GetModel().geometry().scale, 1.0f);
    EXPECT_LE(q.GetModel().geometry().outWidth, 800);
    EXPECT_EQ(q.GetModel().display(), cv::Size(800, 600));

    const Quarvel copy = q;  // carries the host's size to its next load
    Quarvel assigned;
    assigned = q;
    for (Quarvel other : {copy, assigned}) {
        ASSERT_TRUE(other.ReadIniParam(file));
        EXPECT_EQ(other.GetLoadReport().display.width, 800);
        EXPECT_EQ(other.GetModel().geometry().outWidth, q.GetModel().geometry().outWidth);
    }

    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{-1, 600}, std::pair{800, 0}}) {
        q.SetDisplaySize(w, h);  // back to asking the platform
        ASSERT_TRUE(q.ReadIniParam(file));
        r = q.GetLoadReport();
        EXPECT_NE(r.display.source, quarvel::DisplaySource::Host);
        EXPECT_EQ(r.display.width, 1680);
        EXPECT_EQ(q.GetModel().geometry().scale, 1.0f);
    }
}

TEST(HostDisplay, ALoadThatFitsNothingAsksNoDisplay) {
    Quarvel q;
    q.LoadParams(quarvel::test::ParamsOf(640, 480, 0.0f));
    EXPECT_FALSE(q.GetLoadReport().displayQueried);
    q.LoadParams(quarvel::test::ParamsOf(640, 480, 100.0f));  // too short: the set-up stops
    EXPECT_FALSE(q.GetLoadReport().displayQueried);
    q.LoadParams(quarvel::test::ParamsOf(640, 480, 900.0f));
    EXPECT_TRUE(q.GetLoadReport().displayQueried);
    EXPECT_EQ(q.GetLoadReport().display.source, quarvel::DisplaySource::Fallback);
}

// A model always says which display its points are on, barrel or not:
// the fitted one, else the host's, else the one the file records, else
// the platform's.
TEST(HostDisplay, TheModelNamesTheDisplayEvenWhereTheSetUpFitsNothing) {
    quarvel::CalibrationParams flat = quarvel::test::ParamsOf(640, 480, 0.0f);
    Quarvel q;
    q.LoadParams(flat);
    EXPECT_EQ(q.GetModel().display(), cv::Size(1680, 1050));  // the platform's (the tests' fallback)
    q.SetDisplaySize(1280, 720);
    q.LoadParams(flat);
    EXPECT_EQ(q.GetModel().display(), cv::Size(1280, 720));
    // A later load with a barrel fits to the host's size; one without keeps
    // naming the host's, not an earlier load's.
    q.LoadParams(quarvel::test::ParamsOf(640, 480, 900.0f));
    q.SetDisplaySize(1024, 768);
    q.LoadParams(flat);
    EXPECT_EQ(q.GetModel().display(), cv::Size(1024, 768));

    TempDir dir;
    std::vector<quarvel::test::IniLine> lines =
        CalibrationLines(640, 480, 0.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"});
    lines.push_back({"quarvel", "calibrated display", "1920x1080"});
    Quarvel recorded;
    ASSERT_TRUE(recorded.ReadIniParam(dir.Write("flat.ini", ToGbk(IniText(lines)))));
    EXPECT_EQ(recorded.GetModel().display(), cv::Size(1920, 1080));
    // Correcting is the same whatever display is named.
    EXPECT_EQ(recorded.GetModel().CorrectPoint(cv::Point(100, 50)), recorded.CorrectPoint(cv::Point(100, 50)));
}

}  // namespace
