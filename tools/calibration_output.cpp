#include "calibration_output.h"

#include <cmath>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/parameter_file.h>

namespace quarvel::cli {
namespace {

std::string Cell(double v) {
    char text[32];
    if (std::isnan(v)) {
        return "-";
    }
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

}  // namespace

void PrintSummary(const FitResult& fit, std::size_t pairs) {
    std::printf("rms %.3f px, max %.3f px, leave-one-out rms %s px, %d of %zu pairs used\n", fit.rms, fit.max,
                Cell(fit.leaveOneOutRms).c_str(), fit.used, pairs);
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
    PrintSummary(fit, pairs.size());
}

void PrintFocal(const FitResult& fit) {
    if (fit.params.focalZ > 0) {
        const double w = fit.params.imageWidth;
        const double h = fit.params.imageHeight;
        const double s = w * w / 4.0 + h * h / 4.0;
        const double f2 = static_cast<double>(fit.params.focalZ) * fit.params.focalZ;
        std::printf("focal value %g (corner magnification %.4f)\n", static_cast<double>(fit.params.focalZ),
                    f2 / (f2 - s));
    } else {
        std::printf("no barrel correction (focal value 0)\n");
    }
}

void PrintExpectedError(const FitResult& fit) {
    if (!fit.model.empty()) {
        std::printf("model: %s\n", fit.model.c_str());
    }
    if (fit.pairs.empty()) {
        return;
    }
    std::printf("expected error over the display: %.3f px rms, %.3f px max\n", fit.expectedRms, fit.expectedMax);
    if (!(fit.expectedRms <= 0.5)) {
        std::printf("warning: expect errors above half a pixel over the display; what helps: a camera that sees the "
                    "whole display (the pattern's corners reaching its edges), a flatter lens, a sharper view\n");
    }
}

std::string CopyBase(const std::string& path, CalibrationParams& params) {
    // Only the entries it carries over matter: a file of just those (a
    // rotation, say) is what --base is for; one that holds none of a
    // parameter file's entries, or one of them that is not a number, is not.
    const ParameterFile base = ReadParameterFile(path);
    if (!base.read) {
        return "cannot read parameter file '" + path + "'";
    }
    bool any = false;
    for (const EntryReport& e : base.report.entries) {
        any = any || e.status == EntryStatus::Found;
        if (!e.usedByCorrection && e.status == EntryStatus::NotANumber) {
            return "--base '" + path + "': [" + e.section + "] " + e.key + " = '" + e.text + "' is not a number";
        }
    }
    if (!any) {
        return "--base '" + path + "' holds none of a parameter file's entries";
    }
    params.mapTop = base.params.mapTop;
    params.mapBottom = base.params.mapBottom;
    params.keyStoneOriginX = base.params.keyStoneOriginX;
    params.keyStoneOriginY = base.params.keyStoneOriginY;
    std::copy(base.params.planeNormal, base.params.planeNormal + 3, params.planeNormal);
    params.rotateAngle = base.params.rotateAngle;
    params.shearX = base.params.shearX;
    return {};
}

std::string WriteFitted(const FitResult& fit, const CalibrationParams& base, const std::string& output, bool utf8) {
    CalibrationParams params = fit.params;
    params.mapTop = base.mapTop;
    params.mapBottom = base.mapBottom;
    params.keyStoneOriginX = base.keyStoneOriginX;
    params.keyStoneOriginY = base.keyStoneOriginY;
    std::copy(base.planeNormal, base.planeNormal + 3, params.planeNormal);
    params.rotateAngle = base.rotateAngle;
    params.shearX = base.shearX;
    if (const Result written = WriteParameterFile(output, params, utf8); !written) {
        return written.reason;
    }
    std::printf("parameter file written to %s (%s)\n", output.c_str(), utf8 ? "UTF-8" : "GBK");
    return {};
}

bool WriteImage(const std::string& path, const cv::Mat& picture) {
    try {
        return !picture.empty() && cv::imwrite(path, picture);
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace quarvel::cli
