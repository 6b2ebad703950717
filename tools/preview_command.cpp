// quarvel preview PARAMS IMAGE [-o OUT.png] [--show]: paints an image
// through the calibration and writes the 1680 x 1050 canvas to a file.

#include <cstdio>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include <quarvel/quarvel.h>

#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel preview [--display WxH|NAME] PARAMS IMAGE [-o OUT] [--show]\n"
    "\n"
    "Loads the parameter file PARAMS and the image IMAGE (any format OpenCV\n"
    "reads, taken as grey), paints it through the calibration onto the\n"
    "1680 x 1050 preview canvas and writes the canvas to OUT (default\n"
    "barrel.png; any image format OpenCV writes, by its extension).\n"
    "\n"
    "  -o, --output OUT    where to write the canvas\n"
    "  --show              also show the canvas in the window \"barrel\" until a\n"
    "                      key is pressed (needs an X display)\n"
    "  --display WxH|NAME  fit to this display size or RandR/Wayland output\n"
    "\n"
    "exit status: 0 success, 2 usage error or unreadable/unwritable file\n";

bool XDisplayAnswers() {
    for (const DisplayInfo& d : Quarvel::ListDisplays()) {
        if (d.source == DisplaySource::RandrOutput || d.source == DisplaySource::XScreen) {
            return true;
        }
    }
    return false;
}

bool CanWrite(const std::string& path) {
    try {
        return cv::haveImageWriter(path);
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace

int RunPreview(const Args& args) {
    ParsedArgs parsed;
    if (const auto error = ParseOptions(args, {{"output", 'o', true}, {"show", 0, false}, kDisplayOption}, parsed)) {
        return UsageError("preview ", "preview: " + *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (parsed.positional.size() != 2) {
        return UsageError("preview ", "preview: expected PARAMS and IMAGE");
    }
    const std::string& params = parsed.positional[0];
    const std::string& image = parsed.positional[1];
    const std::string output = parsed.Get("output", "barrel.png");
    const bool show = parsed.Has("show");
    if (!CanWrite(output)) {
        return UsageError("preview ", "preview: cannot write images of the kind '" + output +
                                          "' (unknown extension; try .png)");
    }
    Quarvel q;
    if (const auto error = ApplyDisplayOption(parsed, q)) {
        return UsageError("preview ", *error);
    }
    if (!q.ReadIniParam(params)) {
        return Fail(kUsage, "cannot read parameter file '" + params + "'");
    }
    cv::Mat grey;
    try {
        grey = cv::imread(image, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        grey.release();
    }
    if (grey.empty()) {
        return Fail(kUsage, "cannot read image '" + image + "'");
    }

    const bool windowed = show && XDisplayAnswers();
    if (show && !windowed) {
        std::fprintf(stderr, "quarvel: no X display can be reached: the window cannot be shown; "
                             "the preview is still written to %s\n",
                     output.c_str());
    }
    const cv::Mat canvas = q.RenderBarrel(grey);
    bool written = false;
    try {
        written = !canvas.empty() && cv::imwrite(output, canvas);
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written) {
        return Fail(kUsage, "cannot write '" + output + "'");
    }
    std::printf("preview written to %s\n", output.c_str());
    std::fflush(stdout);
    if (windowed) {
        std::printf("showing the window \"barrel\"; press a key in it to close\n");
        std::fflush(stdout);
        try {
            cv::namedWindow("barrel", cv::WINDOW_AUTOSIZE);
            cv::imshow("barrel", canvas);
            cv::waitKey(0);
        } catch (const cv::Exception&) {
            return Fail(kUsage, "the window cannot be shown");
        }
    }
    return kSuccess;
}

}  // namespace quarvel::cli
