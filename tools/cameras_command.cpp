// quarvel cameras: the video devices there are, what each delivers, and
// why one that cannot be opened cannot.

#include <cstdio>

#include "camera_devices.h"
#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel cameras\n"
    "\n"
    "Lists the video devices (/dev/video*) that are cameras: their names, and\n"
    "for each format (MJPG, YUYV, GREY...) the sizes and frame rates they\n"
    "deliver; for --camera, --camera-format, --camera-size and --camera-fps. A\n"
    "device that cannot be opened is named with the reason (busy, not\n"
    "permitted) and what to do.\n"
    "\n"
    "exit status: 0 one camera or more, 1 none, 2 usage error\n";

}  // namespace

int RunCameras(const Args& args) {
    ParsedArgs parsed;
    if (const auto error = ParseOptions(args, {}, parsed)) {
        return UsageError("cameras ", "cameras: " + *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (!parsed.positional.empty()) {
        return UsageError("cameras ", "cameras: takes no arguments");
    }
    int found = 0;
    std::fputs(DescribeCameras(V4l2Devices(), found).c_str(), stdout);
    if (found == 0) {
        std::fprintf(stderr, "quarvel: no camera found (no /dev/video* that captures); is one plugged in?\n");
        return kFinding;
    }
    return kSuccess;
}

}  // namespace quarvel::cli
