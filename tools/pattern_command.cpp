// quarvel pattern: the calibration pattern for a display, as a picture to
// show full-screen while a camera frame is taken.

#include <cstdio>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/pattern.h>

#include "calibration_output.h"
#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel pattern [--display WxH|NAME] [--validation] -o PATTERN.png\n"
    "\n"
    "Writes the calibration pattern for the display: exactly its size, a\n"
    "board of black and white squares with markers in the white ones (a\n"
    "ChArUco board), each square's edges on pixel boundaries. Show it\n"
    "full-screen, without scaling, take a camera frame, and give the frame to\n"
    "'quarvel calibrate --frame'.\n"
    "\n"
    "  --display WxH|NAME  the display (default: the one a load would use; an\n"
    "                      error when no display answers)\n"
    "  -o, --output OUT    the picture to write (PNG keeps it exact)\n"
    "  --validation        the validation pattern instead: the board moved by\n"
    "                      half a square, with markers of its own\n"
    "\n"
    "exit status: 0 written, 2 usage error or unwritable output\n";

}  // namespace

int RunPattern(const Args& args) {
    ParsedArgs parsed;
    if (const auto error =
            ParseOptions(args, {{"output", 'o', true}, {"validation", 0, false}, kDisplayOption}, parsed)) {
        return UsageError("pattern ", "pattern: " + *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (!parsed.positional.empty()) {
        return UsageError("pattern ", "pattern: takes no arguments besides its options");
    }
    const std::string output = parsed.Get("output");
    if (output.empty()) {
        return UsageError("pattern ", "pattern: -o PATTERN.png is required");
    }
    if (!cv::haveImageWriter(output)) {
        return UsageError("pattern ", "pattern: cannot write images of the kind '" + output + "'");
    }
    DisplayInfo display;
    if (const auto error = ResolveDisplay(parsed, display, false)) {
        return UsageError("pattern ", *error);
    }
    const bool validation = parsed.Has("validation");
    const PatternPicture pattern = validation ? MakeValidationPattern(display.width, display.height)
                                              : MakeCalibrationPattern(display.width, display.height);
    if (!pattern.ok) {
        return UsageError("pattern ", "pattern: " + pattern.reason);
    }
    if (!WriteImage(output, pattern.picture)) {
        return Fail(kUsage, "cannot write '" + output + "'");
    }
    std::printf("%s pattern for a %d x %d display written to %s\n", validation ? "validation" : "calibration",
                display.width, display.height, output.c_str());
    return kSuccess;
}

}  // namespace quarvel::cli
