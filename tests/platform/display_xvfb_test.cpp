// The display-size query against a real X server. Run under
//   xvfb-run -a -s "-noreset -screen 0 800x600x24"
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <quarvel/display.h>
#include <quarvel/quarvel.h>

namespace {

cv::Size QueryDisplaySize() {
    const quarvel::DisplayInfo d = quarvel::QueryDisplay();
    return cv::Size(d.width, d.height);
}

class ScopedDisplayVariable {
public:
    explicit ScopedDisplayVariable(const char* value) {
        if (const char* old = std::getenv("DISPLAY")) {
            saved_ = old;
        }
        if (value) {
            setenv("DISPLAY", value, 1);
        } else {
            unsetenv("DISPLAY");
        }
    }
    ~ScopedDisplayVariable() {
        if (saved_) {
            setenv("DISPLAY", saved_->c_str(), 1);
        } else {
            unsetenv("DISPLAY");
        }
    }

private:
    std::optional<std::string> saved_;
};

TEST(XDisplay, QueryReportsTheServersScreen) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run this test under xvfb-run";
    const auto size = QueryDisplaySize();
    EXPECT_EQ(size.width, 800);
    EXPECT_EQ(size.height, 600);
    // Without a primary output the screen is what a load uses, listed first
    // beside the outputs.
    const std::vector<quarvel::DisplayInfo> displays = Quarvel::ListDisplays();
    ASSERT_GE(displays.size(), 2u);
    EXPECT_EQ(displays[0].source, quarvel::DisplaySource::XScreen);
    EXPECT_TRUE(displays[0].used);
    EXPECT_FALSE(displays[1].used);
    EXPECT_EQ(displays[1].source, quarvel::DisplaySource::RandrOutput);
}

TEST(XDisplay, SetUpFitsToTheServersScreen) {
    // 1000 x 500 at f = 3000 corrects to about 1035 x 518: too wide for
    // 800 x 600, small enough for the 1680 x 1050 fallback.
    quarvel::CalibrationParams p;
    p.imageWidth = 1000;
    p.imageHeight = 500;
    p.focalZ = 3000.0f;
    Quarvel q;
    q.LoadParams(p);  // the platform's display: the X server's screen
    const quarvel::Geometry expected = quarvel::SetUpBarrel(1000, 500, 3000.0f, cv::Size(800, 600));
    EXPECT_LT(expected.scale, 1.0f);
    EXPECT_EQ(q.GetModel().geometry().scale, expected.scale);
    EXPECT_EQ(q.GetModel().geometry().outWidth, expected.outWidth);
    EXPECT_LE(q.GetModel().geometry().outWidth, 800);
    EXPECT_EQ(q.GetLoadReport().display.source, quarvel::DisplaySource::XScreen);
    EXPECT_TRUE(quarvel::XServerReachable());
}

TEST(XDisplay, NoReachableServerFallsBackWithoutAborting) {
    {
        ScopedDisplayVariable none(nullptr);
        const auto size = QueryDisplaySize();
        EXPECT_EQ(size.width, 1680);
        EXPECT_EQ(size.height, 1050);
    }
    {
        ScopedDisplayVariable absent(":4711");  // no server listens there
        const auto size = QueryDisplaySize();
        EXPECT_EQ(size.width, 1680);
        EXPECT_EQ(size.height, 1050);
    }
}

TEST(XDisplay, PrimaryOutputModeWinsOverTheScreenSize) {
    // Drive the primary output at 640 x 480 inside the 800 x 600 screen: the
    // query must report the output's mode, not the screen.
    ASSERT_EQ(std::system("xrandr --newmode q640 25.175 640 656 752 800 480 490 492 525 >/dev/null 2>&1 && "
                          "xrandr --addmode screen q640 && "
                          "xrandr --fb 800x600 --output screen --mode q640 --primary"),
              0);
    const auto size = QueryDisplaySize();
    EXPECT_EQ(size.width, 640);
    EXPECT_EQ(size.height, 480);
    // The outputs as a host sees them: the primary one, used, by name.
    const std::vector<quarvel::DisplayInfo> outputs = Quarvel::ListDisplays();
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].name, "screen");
    EXPECT_EQ(outputs[0].source, quarvel::DisplaySource::RandrOutput);
    EXPECT_TRUE(outputs[0].used);
    EXPECT_EQ(outputs[0].width, 640);
    EXPECT_EQ(outputs[0].x, 0);
    EXPECT_EQ(outputs[0].y, 0);
    EXPECT_EQ(std::system("xrandr --fb 800x600 --output screen --mode 800x600"), 0);
    EXPECT_EQ(QueryDisplaySize().width, 800);
}

}  // namespace
