// quarvel calibrate: fit a calibration to measured point pairs, or show
// targets and read where the camera saw them, then write the parameter
// file.

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include <quarvel/calibration.h>
#include <quarvel/quarvel.h>

#include "calibration_report.h"
#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel calibrate PAIRS --image WxH -o OUT.ini [options]\n"
    "       quarvel calibrate --targets CxR --image WxH -o OUT.ini [options]\n"
    "\n"
    "Fits the focal value and the projective matrix to measured point pairs\n"
    "and writes a complete parameter file. PAIRS is a file, or - for standard\n"
    "input, with one pair per line: \"x y X Y\", where the camera saw a target\n"
    "(x, y; decimals allowed) and the display pixel (X, Y) where it was shown;\n"
    "blank lines and lines starting with '#' are skipped.\n"
    "\n"
    "With --targets CxR it shows C x R targets (C, R >= 2) on a grid inset 1/8\n"
    "of the display from each edge, one at a time: it prints \"target N: X Y\",\n"
    "shows the target full-screen in the window \"calibrate\" when a display is\n"
    "reachable, and reads that target's camera position \"x y\" from standard\n"
    "input (so a detector can drive it through a pipe); then it fits.\n"
    "\n"
    "  --image WxH         the camera image size (required)\n"
    "  --display WxH|NAME  the display the calibration is for (default: the one\n"
    "                      a load would use; see 'quarvel displays')\n"
    "  -o, --output OUT    the parameter file to write (required)\n"
    "  --base BASE.ini     copy the nine entries the correction does not use\n"
    "                      (keystone plane, rotation, shear) from BASE.ini\n"
    "  --utf8              write UTF-8 instead of GBK\n"
    "  --no-barrel         fit the matrix alone (focal value 0)\n"
    "  --report OUT.png    draw targets, magnified residuals, rejected pairs and\n"
    "                      the camera image's outline through the fit\n"
    "\n"
    "It prints one row per pair (camera point, target, fitted position,\n"
    "residual, leave-one-out residual, or \"rejected\") and a summary line.\n"
    "\n"
    "exit status: 0 a trustworthy fit, written; 1 no trustworthy fit (too few\n"
    "             pairs, targets on one line, a matrix with w <= 0 over the\n"
    "             image, a folded picture), nothing written; 2 usage error or\n"
    "             unreadable input or unwritable output\n";

// Parses "x y X Y" (blanks and/or commas); false when it is not four numbers.
bool ParseNumbers(const std::string& line, int count, std::vector<double>& out) {
    std::string text = line;
    for (char& c : text) {
        if (c == ',' || c == '\t' || c == '\r') {
            c = ' ';
        }
    }
    std::istringstream words(text);
    std::string word;
    out.clear();
    while (words >> word) {
        const auto v = ParseNumber(word);
        if (!v) {
            return false;
        }
        out.push_back(*v);
    }
    return static_cast<int>(out.size()) == count;
}

bool ReadPairs(std::istream& in, const std::string& name, std::vector<PointPair>& pairs, std::string& error) {
    std::string line;
    std::vector<double> v;
    for (int number = 1; std::getline(in, line); ++number) {
        if (IsSkippedLine(line)) {
            continue;
        }
        if (!ParseNumbers(line, 4, v)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            error = name + ", line " + std::to_string(number) + ": not a pair \"x y X Y\": '" + line + "'";
            return false;
        }
        pairs.push_back({cv::Point2d(v[0], v[1]), cv::Point2d(v[2], v[3])});
    }
    if (in.bad()) {
        error = "cannot read " + name;
        return false;
    }
    return true;
}

// Shows each target, reads where the camera saw it.
bool RunTargets(int cols, int rows, int width, int height, std::vector<PointPair>& pairs, std::string& error) {
    const bool window = XServerReachable();
    if (window) {
        try {
            cv::namedWindow("calibrate", cv::WINDOW_NORMAL);
            cv::setWindowProperty("calibrate", cv::WND_PROP_FULLSCREEN, cv::WINDOW_FULLSCREEN);
        } catch (const cv::Exception&) {
        }
    }
    int number = 0;
    for (const cv::Point2d& target : TargetGrid(cols, rows, cv::Size(width, height))) {
        ++number;
        std::printf("target %d: %g %g\n", number, target.x, target.y);
        std::fflush(stdout);
        if (window) {
            try {
                cv::imshow("calibrate", DrawTarget(width, height, target, number));
                cv::waitKey(1);
            } catch (const cv::Exception&) {
            }
        }
        std::string line;
        std::vector<double> v;
        do {
            if (!std::getline(std::cin, line)) {
                error = "standard input ended before target " + std::to_string(number) + " was measured";
                return false;
            }
        } while (IsSkippedLine(line));
        if (!ParseNumbers(line, 2, v)) {
            error = "target " + std::to_string(number) + ": not a camera position \"x y\": '" + line + "'";
            return false;
        }
        pairs.push_back({cv::Point2d(v[0], v[1]), target});
    }
    if (window) {
        try {
            cv::destroyWindow("calibrate");
        } catch (const cv::Exception&) {
        }
    }
    return true;
}

std::string Cell(double v) {
    char text[32];
    if (std::isnan(v)) {
        return "-";
    }
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

void PrintTable(const std::vector<PointPair>& pairs, const FitResult& fit) {
    std::printf("%4s %10s %10s %9s %9s %10s %10s %9s %13s\n", "pair", "camera x", "camera y", "target X", "target Y",
                "fitted X", "fitted Y", "residual", "leave-one-out");
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const PairFit& p = i < fit.pairs.size() ? fit.pairs[i] : PairFit{};
        std::printf("%4zu %10.3f %10.3f %9.2f %9.2f %10s %10s %9s %13s\n", i + 1, pairs[i].camera.x,
                    pairs[i].camera.y, pairs[i].display.x, pairs[i].display.y, Cell(p.fitted.x).c_str(),
                    Cell(p.fitted.y).c_str(), Cell(p.residual).c_str(),
                    p.inlier ? Cell(p.leaveOneOut).c_str() : "rejected");
    }
    std::printf("rms %.3f px, max %.3f px, leave-one-out rms %s px, %d of %zu pairs used\n", fit.rms, fit.max,
                Cell(fit.leaveOneOutRms).c_str(), fit.used, pairs.size());
}

// The nine entries the correction does not use, from --base.
bool CopyBase(const std::string& path, CalibrationParams& params, std::string& error) {
    const ParameterFile base = ReadParameterFile(path);
    if (!base.read) {
        error = "cannot read parameter file '" + path + "'";
        return false;
    }
    params.mapTop = base.params.mapTop;
    params.mapBottom = base.params.mapBottom;
    params.keyStoneOriginX = base.params.keyStoneOriginX;
    params.keyStoneOriginY = base.params.keyStoneOriginY;
    std::copy(base.params.planeNormal, base.params.planeNormal + 3, params.planeNormal);
    params.rotateAngle = base.params.rotateAngle;
    params.shearX = base.params.shearX;
    return true;
}

}  // namespace

int RunCalibrate(const Args& args) {
    ParsedArgs parsed;
    const std::vector<Option> options = {{"image", 0, true},    {"output", 'o', true},  {"base", 0, true},
                                         {"utf8", 0, false},    {"no-barrel", 0, false}, {"report", 0, true},
                                         {"targets", 0, true},  kDisplayOption};
    if (const auto error = ParseOptions(args, options, parsed)) {
        return UsageError("calibrate ", "calibrate: " + *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    const auto image = ParseSize(parsed.Get("image"));
    if (!image) {
        return UsageError("calibrate ", "calibrate: --image WxH is required (the camera image size)");
    }
    if (!parsed.Has("output")) {
        return UsageError("calibrate ", "calibrate: -o OUT.ini is required");
    }
    const bool targets = parsed.Has("targets");
    std::pair<int, int> grid{0, 0};
    if (targets) {
        const auto asked = ParseSize(parsed.Get("targets"));
        if (!asked || asked->first < 2 || asked->second < 2) {
            return UsageError("calibrate ", "calibrate: --targets needs CxR with C, R >= 2");
        }
        grid = *asked;
    }
    if (targets != parsed.positional.empty() || parsed.positional.size() > 1) {
        return UsageError("calibrate ", "calibrate: give either PAIRS or --targets CxR");
    }
    const std::string report = parsed.Get("report");
    if (!report.empty() && !cv::haveImageWriter(report)) {
        return UsageError("calibrate ", "calibrate: cannot write images of the kind '" + report + "'");
    }
    // The display: --display, else the one a load would use.
    DisplayInfo display;
    if (const auto error = ResolveDisplay(parsed, display)) {
        return UsageError("calibrate ", *error);
    }
    const int displayWidth = display.width;
    const int displayHeight = display.height;

    CalibrationParams base;
    std::string error;
    if (parsed.Has("base") && !CopyBase(parsed.Get("base"), base, error)) {
        return Fail(kUsage, error);
    }

    std::vector<PointPair> pairs;
    if (targets) {
        if (!RunTargets(grid.first, grid.second, displayWidth, displayHeight, pairs, error)) {
            return Fail(kUsage, error);
        }
    } else {
        const std::string source = parsed.positional[0];
        bool read = false;
        if (source == "-") {
            read = ReadPairs(std::cin, "standard input", pairs, error);
        } else {
            std::ifstream file(source);
            if (!file) {
                return Fail(kUsage, "cannot read pairs file '" + source + "'");
            }
            read = ReadPairs(file, source, pairs, error);
        }
        if (!read) {
            return Fail(kUsage, error);
        }
    }

    FitOptions fitOptions;
    fitOptions.imageWidth = image->first;
    fitOptions.imageHeight = image->second;
    fitOptions.displayWidth = displayWidth;
    fitOptions.displayHeight = displayHeight;
    fitOptions.barrel = !parsed.Has("no-barrel");
    FitResult fit = FitCalibration(pairs, fitOptions);
    std::printf("fitted for a %d x %d camera image on a %d x %d display\n", image->first, image->second, displayWidth,
                displayHeight);
    PrintTable(pairs, fit);
    if (fit.params.focalZ > 0) {
        const double s = image->first * image->first / 4.0 + image->second * image->second / 4.0;
        const double f2 = static_cast<double>(fit.params.focalZ) * fit.params.focalZ;
        std::printf("focal value %g (corner magnification %.4f)\n", static_cast<double>(fit.params.focalZ),
                    f2 / (f2 - s));
    } else {
        std::printf("no barrel correction (focal value 0)\n");
    }
    if (!report.empty() && !fit.pairs.empty()) {
        bool drawn = false;
        try {
            drawn = cv::imwrite(report, DrawCalibrationReport(pairs, fit));
        } catch (const cv::Exception&) {
            drawn = false;
        }
        if (!drawn) {
            return Fail(kUsage, "cannot write '" + report + "'");
        }
        std::printf("report written to %s\n", report.c_str());
    }
    if (!fit.ok) {
        return Fail(kFinding, "no trustworthy fit: " + fit.reason + "; nothing written");
    }
    fit.params.mapTop = base.mapTop;
    fit.params.mapBottom = base.mapBottom;
    fit.params.keyStoneOriginX = base.keyStoneOriginX;
    fit.params.keyStoneOriginY = base.keyStoneOriginY;
    std::copy(base.planeNormal, base.planeNormal + 3, fit.params.planeNormal);
    fit.params.rotateAngle = base.rotateAngle;
    fit.params.shearX = base.shearX;
    const std::string output = parsed.Get("output");
    const bool utf8 = parsed.Has("utf8");
    if (!WriteParameterFile(output, fit.params, utf8, &error)) {
        return Fail(kUsage, error);
    }
    std::printf("parameter file written to %s (%s)\n", output.c_str(), utf8 ? "UTF-8" : "GBK");
    return kSuccess;
}

}  // namespace quarvel::cli
