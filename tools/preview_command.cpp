// quarvel preview PARAMS IMAGE [-o OUT.png] [--show]: paints an image
// through the calibration and writes the 1680 x 1050 canvas to a PNG.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include <quarvel/quarvel.h>

#include "cli_common.h"
#include "platform/x_display.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel preview PARAMS IMAGE [-o OUT.png] [--show]\n"
    "\n"
    "Loads the parameter file PARAMS and the image IMAGE (any format OpenCV\n"
    "reads, taken as grey), paints it through the calibration onto the\n"
    "1680 x 1050 preview canvas and writes the canvas to OUT.png\n"
    "(default barrel.png).\n"
    "\n"
    "  -o, --output OUT  where to write the canvas\n"
    "  --show            also show the canvas in the window \"barrel\" until a\n"
    "                    key is pressed (needs an X display)\n"
    "\n"
    "exit status: 0 success, 2 usage error or unreadable/unwritable file\n";

struct PreviewArgs {
    std::string params;
    std::string image;
    std::string output = "barrel.png";
    bool show = false;
};

// Returns an error message, or an empty string when the arguments parse.
std::string Parse(const Args& args, PreviewArgs& out) {
    std::vector<std::string_view> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size()) {
                return "preview: " + std::string(a) + " needs a file name";
            }
            out.output = std::string(args[++i]);
        } else if (a == "--show") {
            out.show = true;
        } else if (a.size() > 1 && a.front() == '-') {
            return "preview: unknown option '" + std::string(a) + "'";
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) {
        return "preview: expected PARAMS and IMAGE";
    }
    out.params = std::string(positional[0]);
    out.image = std::string(positional[1]);
    return {};
}

}  // namespace

int RunPreview(const Args& args) {
    if (WantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    PreviewArgs opts;
    if (const std::string error = Parse(args, opts); !error.empty()) {
        std::fputs(kHelp, stderr);
        return Fail(kUsage, error);
    }
    Quarvel q;
    if (!q.ReadIniParam(opts.params.c_str())) {
        return Fail(kUsage, "cannot read parameter file '" + opts.params + "'");
    }
    cv::Mat grey;
    try {
        grey = cv::imread(opts.image, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        grey.release();
    }
    if (grey.empty()) {
        return Fail(kUsage, "cannot read image '" + opts.image + "'");
    }

    const bool windowed = opts.show && detail::DisplayReachable();
    if (opts.show && !windowed) {
        std::fprintf(stderr, "quarvel: no X display can be reached: the window cannot be shown; "
                             "the preview is still written to %s\n",
                     opts.output.c_str());
    }
    if (!windowed) {
        // The library shows the window whenever a display answers; without
        // --show the tool only writes the file, so it previews headless. The
        // display size was already read by the load above.
        unsetenv("DISPLAY");
    }
    q.TestBarrelCorrect(grey);

    bool written = false;
    try {
        written = cv::imwrite(opts.output, q.GetBarrelImage());
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written) {
        return Fail(kUsage, "cannot write '" + opts.output + "'");
    }
    std::printf("preview written to %s\n", opts.output.c_str());
    std::fflush(stdout);
    if (windowed) {
        std::printf("showing the window \"barrel\"; press a key in it to close\n");
        std::fflush(stdout);
        cv::waitKey(0);
    }
    return kSuccess;
}

}  // namespace quarvel::cli
