// quarvel calibrate: make a calibration, by looking at a pattern through
// the camera (a saved frame or live) or from measured point pairs, then
// write the parameter file.

#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/calibration.h>

#include "blob_options.h"
#include "calibrate_modes.h"
#include "calibration_output.h"
#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel calibrate --frame FRAME [--display WxH|NAME] -o OUT.ini [options]\n"
    "       quarvel calibrate --camera N|SOURCE [--display WxH|NAME] -o OUT.ini [options]\n"
    "       quarvel calibrate --camera N|SOURCE --touch CxR [--display WxH|NAME] -o OUT.ini [options]\n"
    "       quarvel calibrate PAIRS --image WxH [--display WxH|NAME] -o OUT.ini [options]\n"
    "       quarvel calibrate --targets CxR --image WxH [--display WxH|NAME] -o OUT.ini [options]\n"
    "\n"
    "Fits the focal value and the projective matrix, then writes a complete\n"
    "parameter file.\n"
    "\n"
    "With --frame it finds the calibration pattern ('quarvel pattern') in a\n"
    "camera frame taken while the pattern was shown full-screen on the display,\n"
    "and fits to its corners; the camera image size is the frame's. It prints\n"
    "how many corners it found and the share of the display they cover (below\n"
    "half, the fit extrapolates: a warning).\n"
    "\n"
    "With --camera it does the same live: it shows the pattern full-screen on\n"
    "the display's output (an X server is needed), reads frames from camera N\n"
    "(or from SOURCE: a video, an image sequence such as frames/%04d.png, a\n"
    "stream), waits until the picture has settled in the camera, averages a\n"
    "few frames, fits, then shows a validation pattern whose corners fall\n"
    "between the first one's and reports the written file's error measured\n"
    "through the camera. It prints its progress; a key (in the window, or\n"
    "Enter in the terminal) aborts.\n"
    "\n"
    "With --camera and --touch CxR it calibrates by touch, for a camera that\n"
    "cannot see the picture (infrared): it shows C x R targets (C, R >= 2) on a\n"
    "grid inset 1/8 of the display, one at a time, full-screen. Touch each and\n"
    "hold still until it is measured (0.4 s within 2 camera pixels; the\n"
    "position is averaged over the hold), then lift. The first 15 frames teach\n"
    "it the background: touch nothing before the first target is announced. A\n"
    "misclick is measured like any touch and rejected by the fit. It prints\n"
    "one row per target.\n"
    "\n"
    "PAIRS is a file, or - for standard input, with one pair per line:\n"
    "\"x y X Y\", where the camera saw a target (x, y; decimals allowed) and the\n"
    "display pixel (X, Y) where it was shown; blank lines and lines starting\n"
    "with '#' are skipped. With --targets CxR it shows C x R targets (C, R >= 2)\n"
    "on a grid inset 1/8 of the display from each edge, one at a time: it\n"
    "prints \"target N: X Y\", shows the target full-screen in the window\n"
    "\"calibrate\" when a display is reachable, and reads that target's camera\n"
    "position \"x y\" from standard input (so a detector can drive it through a\n"
    "pipe); then it fits. Both print one row per pair.\n"
    "\n"
    "  --image WxH         the camera image size (required with PAIRS and\n"
    "                      --targets; with --frame and --camera it must match)\n"
    "  --display WxH|NAME  the display the calibration is for (default: the one\n"
    "                      a load would use, see 'quarvel displays'; an error\n"
    "                      when no display answers)\n"
    "  -o, --output OUT    the parameter file to write (required)\n"
    "  --base BASE.ini     copy the nine entries the correction does not use\n"
    "                      (keystone plane, rotation, shear) from BASE.ini\n"
    "  --utf8              write UTF-8 instead of GBK\n"
    "  --no-barrel         fit the matrix alone: focal value 0, and no lens stage\n"
    "                      (as --plain)\n"
    "  --plain             no lens stage: the barrel and matrix alone, a file any\n"
    "                      reader of the original sections corrects exactly as\n"
    "                      Quarvel does (by default a lens stage is fitted where\n"
    "                      the pairs support one and it lowers the expected error,\n"
    "                      and written in a section of its own)\n"
    "with --touch, the blobs that count as fingers:\n"
    "@BLOB_OPTIONS@"
    "  --report OUT.png    a picture of the fit: over the display, the targets,\n"
    "                      magnified residuals and rejected pairs; with --frame\n"
    "                      and --camera, over the camera frame, the corners found\n"
    "                      and their residual vectors\n"
    "\n"
    "A summary line follows: \"rms R px, max M px, leave-one-out rms L px, N of T\n"
    "pairs used\", then what was fitted (\"model: ...\") and the error to expect\n"
    "over the whole display the camera sees, regions with no pair included:\n"
    "\"expected error over the display: R px rms, M px max\" (each region of the\n"
    "display left out in turn and predicted without it). Above half a pixel it\n"
    "warns.\n"
    "\n"
    "exit status: 0 a trustworthy fit, written; 1 no trustworthy fit (too few\n"
    "             pairs, targets on one line, a matrix with w <= 0 over the\n"
    "             image, a folded picture, a frame without the pattern),\n"
    "             nothing written; 2 usage error, unreadable input, unwritable\n"
    "             output, no display for the window\n";

// The options every mode shares, read and checked into `setup`. Exit
// status (kSuccess to go on).
int ReadSetup(const ParsedArgs& parsed, CalibrateSetup& setup) {
    const int modes = (parsed.positional.empty() ? 0 : 1) + parsed.Has("targets") + parsed.Has("frame") +
                      parsed.Has("camera");
    if (modes != 1 || parsed.positional.size() > 1) {
        return UsageError("calibrate ", "calibrate: give one of PAIRS, --targets CxR, --frame FRAME or --camera N");
    }
    if (parsed.Has("touch") && !parsed.Has("camera")) {
        return UsageError("calibrate ", "calibrate: --touch CxR needs --camera N");
    }
    if (!parsed.Has("touch")) {
        if (const auto error = RefuseUnused(parsed, BlobOptionNames(), "--touch")) {
            return UsageError("calibrate ", "calibrate: " + *error);
        }
    }
    if (const auto error = ReadBlobOptions(parsed, setup.blobs)) {
        return UsageError("calibrate ", "calibrate: " + *error);
    }
    if (!parsed.Has("output")) {
        return UsageError("calibrate ", "calibrate: -o OUT.ini is required");
    }
    if (parsed.Has("image")) {
        const auto image = ParseSize(parsed.Get("image"));
        if (!image) {
            return UsageError("calibrate ", "calibrate: --image needs WxH (the camera image size)");
        }
        setup.image = cv::Size(image->first, image->second);
    } else if (!parsed.positional.empty() || parsed.Has("targets")) {
        return UsageError("calibrate ", "calibrate: --image WxH is required (the camera image size)");
    }
    setup.report = parsed.Get("report");
    if (!setup.report.empty() && !cv::haveImageWriter(setup.report)) {
        return UsageError("calibrate ", "calibrate: cannot write images of the kind '" + setup.report + "'");
    }
    // The display: --display, else the one a load would use.
    if (const auto error = ResolveDisplay(parsed, setup.display, false)) {
        return UsageError("calibrate ", *error);
    }
    if (parsed.Has("base")) {
        if (std::string error = CopyBase(parsed.Get("base"), setup.base); !error.empty()) {
            return Fail(kUsage, error);
        }
    }
    setup.output = parsed.Get("output");
    setup.utf8 = parsed.Has("utf8");
    setup.barrel = !parsed.Has("no-barrel");
    setup.lens = !parsed.Has("plain") && !parsed.Has("no-barrel");
    if (parsed.Has("no-barrel") && !parsed.Has("plain")) {
        std::fprintf(stderr, "quarvel: --no-barrel: the matrix alone, without a lens stage either\n");
    }
    return kSuccess;
}

// A grid option's CxR (C, R >= 2), or an empty size.
cv::Size Grid(const ParsedArgs& parsed, const char* option) {
    const auto g = ParseSize(parsed.Get(option));
    return g && g->first >= 2 && g->second >= 2 ? cv::Size(g->first, g->second) : cv::Size();
}

}  // namespace

int RunCalibrate(const Args& args) {
    ParsedArgs parsed;
    std::vector<Option> options = {
        {"image", 0, true},   {"output", 'o', true}, {"base", 0, true},  {"utf8", 0, false}, {"no-barrel", 0, false},
        {"report", 0, true},  {"targets", 0, true},  {"frame", 0, true}, {"camera", 0, true}, {"touch", 0, true},
        {"plain", 0, false}, kDisplayOption};
    options.insert(options.end(), BlobOptionList().begin(), BlobOptionList().end());
    if (const auto error = ParseOptions(args, options, parsed)) {
        return UsageError("calibrate ", "calibrate: " + *error);
    }
    if (parsed.help) {
        PrintHelpWithBlobOptions(kHelp);
        return kSuccess;
    }
    CalibrateSetup setup;
    if (const int status = ReadSetup(parsed, setup); status != kSuccess) {
        return status;
    }
    if (parsed.Has("frame")) {
        return RunFrameMode(parsed.Get("frame"), setup);
    }
    if (parsed.Has("touch")) {
        const cv::Size targets = Grid(parsed, "touch");
        if (targets.empty()) {
            return UsageError("calibrate ", "calibrate: --touch needs CxR with C, R >= 2");
        }
        return RunTouchMode(parsed.Get("camera"), targets, setup);
    }
    if (parsed.Has("camera")) {
        return RunCameraMode(parsed.Get("camera"), setup);
    }
    if (parsed.Has("targets")) {
        const cv::Size targets = Grid(parsed, "targets");
        if (targets.empty()) {
            return UsageError("calibrate ", "calibrate: --targets needs CxR with C, R >= 2");
        }
        return RunTargetsMode(targets, setup);
    }
    return RunPairsMode(parsed.positional[0], setup);
}

}  // namespace quarvel::cli
