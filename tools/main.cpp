// quarvel: correct points, preview, check, calibrate and track touches from the shell.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <opencv2/core/utils/logger.hpp>

#include <quarvel/version.h>

#include "cli_common.h"

namespace {

constexpr const char* kMainHelp =
    "usage: quarvel <command> [options]\n"
    "\n"
    "commands:\n"
    "  correct PARAMS [X,Y ... | -]        correct points (from the arguments or standard input)\n"
    "  preview PARAMS IMAGE [-o OUT]       paint an image through the calibration into a PNG\n"
    "  preview PARAMS --video FILE | --camera N [--show] [--fill] [-o OUT.avi]\n"
    "                                      paint video or a live camera through it\n"
    "  check PARAMS                        report on a parameter file and what a load finds\n"
    "  displays                            list the displays a load could fit to\n"
    "  cameras                             list the cameras with their formats, sizes and rates\n"
    "  pattern -o PATTERN.png              the calibration pattern for the display\n"
    "  calibrate --frame FRAME -o OUT      fit to the pattern in a saved camera frame\n"
    "  calibrate --camera N -o OUT         show the pattern, look through camera N, fit, validate\n"
    "  calibrate PAIRS --image WxH -o OUT  fit a calibration to measured point pairs\n"
    "  calibrate --targets CxR --image WxH -o OUT\n"
    "                                      show targets, read the camera's positions, fit\n"
    "  calibrate --camera N --touch CxR -o OUT\n"
    "                                      show targets, measure each touch through camera N, fit\n"
    "  track PARAMS --video FILE | --camera N [--json] [--tuio HOST:PORT] [--uinput] [--show]\n"
    "        [--status [HOST:]PORT] [--config FILE]\n"
    "                                      fingers seen by the camera as calibrated touches\n"
    "  track A.ini --video a.avi B.ini --video b.avi ...\n"
    "                                      several cameras fused into one surface\n"
    "  fuse --listen PORT --member NAME=PARAMS ... --display WxH [--json] [--tuio HOST:PORT] [--uinput]\n"
    "                                      a wall's hub: members' TUIO fused into one surface\n"
    "\n"
    "options:\n"
    "  --display WxH|NAME  (every command that loads) fit to this size or output\n"
    "  -h, --help          help for quarvel or for a command (quarvel correct --help)\n"
    "  -V, --version       the library version\n"
    "\n"
    "exit status: 0 success, 1 a finding (bad point line, failed check),\n"
    "             2 usage error or unreadable/unwritable file\n";

int Dispatch(std::string_view command, const quarvel::cli::Args& args) {
    using namespace quarvel::cli;
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kMainHelp, stdout);
        return kSuccess;
    }
    if (command == "--version" || command == "-V") {
        std::printf("quarvel %s\n", QUARVEL_VERSION_STRING);
        return kSuccess;
    }
    if (command == "correct") {
        return RunCorrect(args);
    }
    if (command == "preview") {
        return RunPreview(args);
    }
    if (command == "check") {
        return RunCheck(args);
    }
    if (command == "displays") {
        return RunDisplays(args);
    }
    if (command == "cameras") {
        return RunCameras(args);
    }
    if (command == "calibrate") {
        return RunCalibrate(args);
    }
    if (command == "pattern") {
        return RunPattern(args);
    }
    if (command == "track") {
        return RunTrack(args);
    }
    if (command == "fuse") {
        return RunFuse(args);
    }
    return UsageError("", "unknown command '" + std::string(command) + "'");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quarvel::cli;
    Args args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kMainHelp, stderr);
        return kUsage;
    }
    const std::string_view command = args.front();
    args.erase(args.begin());
    // OpenCV's own warnings (an image sequence reaching its end, a camera
    // property it cannot read) are not the user's business; errors are.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    int status = Dispatch(command, args);
    // A report that did not reach its reader (a full disk, /dev/full) is a
    // failure, whatever the command found.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        status = Fail(kUsage, std::string("cannot write to standard output") +
                                  (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
    }
    return status;
}
