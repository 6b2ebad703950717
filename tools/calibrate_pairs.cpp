// quarvel calibrate PAIRS | --targets CxR: fit to measured point pairs, or
// show targets and read where the camera saw them.

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>


#include <quarvel/calibration.h>
#include <quarvel/quarvel.h>

#include "calibrate_modes.h"
#include "calibration_output.h"
#include "calibration_report.h"
#include "cli_common.h"
#include "full_screen.h"

namespace quarvel::cli {
namespace {

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
bool RunTargets(int cols, int rows, const DisplayInfo& display, std::vector<PointPair>& pairs, std::string& error) {
    const int width = display.width;
    const int height = display.height;
    FullScreenWindow window("calibrate", display);
    int number = 0;
    for (const cv::Point2d& target : TargetGrid(cols, rows, cv::Size(width, height))) {
        ++number;
        std::printf("target %d: %g %g\n", number, target.x, target.y);
        std::fflush(stdout);
        window.Show(DrawTarget(width, height, target, number), 1);
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
    return true;
}

}  // namespace

int FinishCalibration(const std::vector<PointPair>& pairs, const FitResult& fit, const CalibrateSetup& setup,
                      bool table, const cv::Mat& report) {
    std::printf("fitted for a %d x %d camera image on a %d x %d display\n", fit.params.imageWidth,
                fit.params.imageHeight, setup.display.width, setup.display.height);
    if (table) {
        PrintTable(pairs, fit);
    } else {
        PrintSummary(fit, pairs.size());
    }
    PrintFocal(fit);
    PrintExpectedError(fit);
    if (!setup.report.empty() && !report.empty()) {
        if (!WriteImage(setup.report, report)) {
            return Fail(kUsage, "cannot write '" + setup.report + "'");
        }
        std::printf("report written to %s\n", setup.report.c_str());
    }
    if (!fit.ok) {
        return Fail(kFinding, "no trustworthy fit: " + fit.reason + "; nothing written");
    }
    if (std::string error = WriteFitted(fit, setup.base, setup.output, setup.utf8); !error.empty()) {
        return Fail(kUsage, error);
    }
    return kSuccess;
}

FitOptions OptionsFor(const CalibrateSetup& setup, cv::Size image) {
    FitOptions o;
    o.imageWidth = image.width;
    o.imageHeight = image.height;
    o.displayWidth = setup.display.width;
    o.displayHeight = setup.display.height;
    o.barrel = setup.barrel;
    o.lens = setup.lens;
    return o;
}

namespace {

int Fit(const std::vector<PointPair>& pairs, const CalibrateSetup& setup) {
    const FitResult fit = FitCalibration(pairs, OptionsFor(setup, setup.image));
    const cv::Mat report =
        setup.report.empty() || fit.pairs.empty() ? cv::Mat() : DrawCalibrationReport(pairs, fit);
    return FinishCalibration(pairs, fit, setup, true, report);
}

}  // namespace

int RunPairsMode(const std::string& source, const CalibrateSetup& setup) {
    std::vector<PointPair> pairs;
    std::string error;
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
    return Fit(pairs, setup);
}

int RunTargetsMode(cv::Size grid, const CalibrateSetup& setup) {
    std::vector<PointPair> pairs;
    std::string error;
    if (!RunTargets(grid.width, grid.height, setup.display, pairs, error)) {
        return Fail(kUsage, error);
    }
    return Fit(pairs, setup);
}

}  // namespace quarvel::cli
