// The preview window on a real X server. Run under
//   xvfb-run -a -s "-noreset -screen 0 1920x1200x24"
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <opencv2/highgui.hpp>

#include <quarvel/quarvel.h>

namespace {

// What a shell command prints on standard output.
std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        pclose(pipe);
    }
    return out;
}

// How many windows the server knows by the exact name "barrel".
int BarrelWindows() {
    const std::string tree = Output("xwininfo -root -tree");
    int count = 0;
    for (std::size_t at = tree.find("\"barrel\""); at != std::string::npos; at = tree.find("\"barrel\"", at + 1)) {
        ++count;
    }
    return count;
}

TEST(PreviewWindow, ShowsTheCanvasInAWindowNamedBarrelAndReusesIt) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run this test under xvfb-run";
    quarvel::CalibrationParams p;
    p.imageWidth = 64;
    p.imageHeight = 48;
    Quarvel q;
    q.LoadParams(p);
    const cv::Mat source(48, 64, CV_8UC1, cv::Scalar(128));
    q.TestBarrelCorrect(source);
    cv::waitKey(200);
    EXPECT_EQ(std::system("xwininfo -name barrel >/dev/null 2>&1"), 0);
    EXPECT_EQ(BarrelWindows(), 1);
    EXPECT_EQ(cv::countNonZero(q.GetBarrelImage()), 64 * 48);

    q.TestBarrelCorrect(source);
    cv::waitKey(200);
    EXPECT_EQ(BarrelWindows(), 1);
    // The window is sized to the canvas.
    const std::string info = Output("xwininfo -name barrel");
    EXPECT_NE(info.find("Width: 1680"), std::string::npos) << info;
    cv::destroyAllWindows();
}

}  // namespace
