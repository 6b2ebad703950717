// The tool as a whole: usage errors, help, version, --display, unreadable
// files and unwritable output.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <quarvel/calibration.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"
#include "support/synthetic.h"
#include "support/tool.h"

namespace {

using Result = quarvel::test::ProcessResult;

class Tool : public quarvel::test::ToolTest {};

TEST_F(Tool, UnreadableFilesAreUsageErrors) {
    const Result r = Run({"correct", "/nonexistent/cal.ini", "1,2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/nonexistent/cal.ini"), std::string::npos);
    EXPECT_EQ(Run({"check", "/nonexistent/cal.ini"}).status, 2);
    const Result image = Run({"preview", Example("calibration.ini"), "/nonexistent.png", "-o", "x.png"});
    EXPECT_EQ(image.status, 2);
    EXPECT_NE(image.err.find("/nonexistent.png"), std::string::npos);
    EXPECT_EQ(Run({"correct"}).status, 2);
    EXPECT_EQ(Run({"frobnicate"}).status, 2);
    EXPECT_EQ(Run({"preview", Example("calibration.ini")}).status, 2);
    EXPECT_EQ(Run({"preview", Example("calibration.ini"), Example("grid.png"), "--bogus"}).status, 2);
}


TEST_F(Tool, EveryCommandHasHelpAndTheToolAVersion) {
    for (const char* command : {"correct", "preview", "check"}) {
        const Result r = Run({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: quarvel ") + command, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("exit status"), std::string::npos) << command;
    }
    const Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("correct PARAMS"), std::string::npos);
    const Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("quarvel ") + QUARVEL_VERSION_STRING + "\n");
}


TEST_F(Tool, DisplayOptionFixesTheSizeEveryLoadingCommandFitsTo) {
    // The example (1280 x 720, f = 1800) corrects to 1536 x 864: shrunk on
    // 1024 x 768, whole on 1680 x 1050.
    const std::string params = Example("calibration.ini");
    Quarvel small;
    small.SetDisplaySize(1024, 768);
    ASSERT_TRUE(small.ReadIniParam(params));
    const CvPoint expected = small.CorrectPoint(cvPoint(1279, 719));
    for (const std::vector<std::string>& form :
         {std::vector<std::string>{"--display", "1024x768"}, std::vector<std::string>{"--display=1024x768"}}) {
        std::vector<std::string> args = {"correct"};
        args.insert(args.end(), form.begin(), form.end());
        args.insert(args.end(), {params, "1279,719"});
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::to_string(expected.x) + " " + std::to_string(expected.y) + "\n");
    }
    const Result check = Run({"check", "--display", "1024x768", params});
    EXPECT_NE(check.out.find("display: 1024 x 768 (host)"), std::string::npos) << check.out;

    const Result unknown = Run({"correct", "--display", "HDMI-9", params, "1,1"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("'HDMI-9' is neither WxH nor an output; outputs:"), std::string::npos) << unknown.err;

    const Result listed = Run({"displays"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "* - 1680x1050 fallback\n");  // the tests run without a display
}


TEST_F(Tool, UsageErrorsAreOneLineAndWritesAreChecked) {
    const Result bad = Run({"correct", "--bogus", Example("calibration.ini")});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "quarvel: unknown option '--bogus'\ntry 'quarvel correct --help'\n");
    const Result missing = Run({"preview", Example("calibration.ini"), Example("grid.png"), "-o"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 2) << missing.err;

    const Result stdinDash = Run({"correct", Example("calibration.ini"), "-"}, "10 5\n");
    EXPECT_EQ(stdinDash.out, Expected(Example("calibration.ini"), {cvPoint(10, 5)}));
    EXPECT_EQ(Run({"-V"}).out, std::string("quarvel ") + QUARVEL_VERSION_STRING + "\n");

    const std::string full = "'" + tool_ + "' check '" + Example("calibration.ini") + "' >/dev/full 2>/dev/null";
    const int raw = std::system(full.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2);

    const Result extension = Run({"preview", Example("calibration.ini"), Example("grid.png"), "-o",
                                  (dir.path() / "out.xyz").string()});
    EXPECT_EQ(extension.status, 2);
    EXPECT_NE(extension.err.find("unknown extension"), std::string::npos) << extension.err;
}

}  // namespace

// Where an answer would be wrong, the tool stops and says why instead: a
// parameter file without a calibration, a display nobody named and none
// answered, a size that is not one.
TEST_F(Tool, RefusesWhatWouldGiveAWrongResult) {
    const std::string garbage = dir.Write("garbage.ini", std::string("\x7f" "ELF\x01\x02 not an ini \xff\xfe"));
    const std::string empty = dir.Write("empty.ini", "");
    const std::string noSize = dir.Write("nosize.ini", "[桶形校正参数]\n焦点Z值=1800\n");
    const std::string frame = Example("camera-frame.png");
    const std::string out = (dir.path() / "out.ini").string();
    const std::string sequence = (dir.path() / "%04d.png").string();
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"track", garbage, "--video", sequence, "--display", "1920x1080", "--json"}, 2,
         "holds no usable calibration: it holds none of the 21 parameter entries"},
        {{"track", empty, "--video", sequence, "--display", "1920x1080", "--json"}, 2,
         "holds no usable calibration: it holds none of the 21"},
        {{"track", noSize, "--video", sequence, "--display", "1920x1080"}, 2,
         "holds no usable calibration: it has no image size"},
        {{"calibrate", "--frame", frame, "--display", "1920x1080", "--base", garbage, "-o", out}, 2,
         "--base '" + garbage + "' holds none of a parameter file's entries"},
        {{"pattern", "-o", (dir.path() / "p.png").string()}, 2, "name it with --display WxH"},
        {{"calibrate", "--frame", frame, "-o", out}, 2, "name it with --display WxH"},
        {{"track", Example("calibration.ini"), "--video", sequence}, 2, "name it with --display WxH"},
        {{"pattern", "--display", "0x720", "-o", (dir.path() / "p.png").string()}, 2,
         "--display 0x720: the width and height must be positive"},
        {{"check", "--display", "1920x-5", Example("calibration.ini")}, 2, "must be positive"},
        {{"calibrate", "--frame", frame, "--display", "1920x1080", "--threshold", "30", "-o", out}, 2,
         "is only for --touch"},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.args);
        std::string command;
        for (const std::string& a : c.args) {
            command += " " + a;
        }
        EXPECT_EQ(r.status, c.status) << command << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << command << "\n" << r.err;
    }
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "a file was written";
}
