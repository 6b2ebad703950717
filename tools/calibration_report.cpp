#include "calibration_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <opencv2/imgproc.hpp>

#include <quarvel/model.h>

#include "drawing.h"

namespace quarvel::cli {
namespace {

const cv::Scalar kTarget(255, 255, 255);
const cv::Scalar kResidual(0, 220, 255);
const cv::Scalar kRejected(60, 60, 255);
const cv::Scalar kOutline(90, 200, 90);
const cv::Scalar kText(230, 230, 230);


// 1, 2 or 5 times a power of ten, so that the largest residual is drawn
// about 60 pixels long.
double Magnification(double maxResidual) {
    if (!(maxResidual > 0)) {
        return 1;
    }
    const double wanted = 60.0 / maxResidual;
    const double decade = std::pow(10.0, std::floor(std::log10(wanted)));
    for (const double step : {5.0, 2.0, 1.0}) {
        if (step * decade <= wanted) {
            return std::max(1.0, step * decade);
        }
    }
    return std::max(1.0, decade);
}

// The border of the camera image through the fitted chain.
std::vector<cv::Point> Outline(const FitResult& fit) {
    const Model q(fit.params);
    return MappedBorder(cv::Size(fit.params.imageWidth, fit.params.imageHeight),
                        [&q](const cv::Point2d& c) { return q.CorrectPointSubpixel(c); });
}

}  // namespace

cv::Mat DrawCalibrationReport(const std::vector<PointPair>& pairs, const FitResult& fit) {
    cv::Mat picture(fit.params.displayHeight, fit.params.displayWidth, CV_8UC3, cv::Scalar(40, 40, 40));
    const std::vector<cv::Point> outline = Outline(fit);
    if (outline.size() > 1) {
        cv::polylines(picture, outline, true, kOutline, 2, cv::LINE_AA);
    }
    const double factor = Magnification(fit.max);
    for (std::size_t i = 0; i < pairs.size() && i < fit.pairs.size(); ++i) {
        const cv::Point target = Pixel(pairs[i].display);
        const PairFit& p = fit.pairs[i];
        if (p.inlier) {
            cv::circle(picture, target, 6, kTarget, 1, cv::LINE_AA);
            const cv::Point2d tip = pairs[i].display + (p.fitted - pairs[i].display) * factor;
            cv::arrowedLine(picture, target, Pixel(tip), kResidual, 2, cv::LINE_AA, 0, 0.2);
        } else {
            cv::drawMarker(picture, target, kRejected, cv::MARKER_TILTED_CROSS, 22, 2, cv::LINE_AA);
            cv::putText(picture, "rejected", target + cv::Point(14, -10), cv::FONT_HERSHEY_SIMPLEX, 0.5, kRejected, 1,
                        cv::LINE_AA);
        }
        cv::putText(picture, std::to_string(i + 1), target + cv::Point(8, 18), cv::FONT_HERSHEY_SIMPLEX, 0.45,
                    kText, 1, cv::LINE_AA);
    }
    char line[200];
    std::snprintf(line, sizeof line, "residuals magnified %gx   rms %.3f px, max %.3f px, leave-one-out rms %.3f px, "
                  "%d of %zu pairs used", factor, fit.rms, fit.max, fit.leaveOneOutRms, fit.used, pairs.size());
    cv::putText(picture, line, cv::Point(20, 34), cv::FONT_HERSHEY_SIMPLEX, 0.7, kText, 1, cv::LINE_AA);
    char focal[64] = "no barrel";
    if (fit.params.focalZ > 0) {
        std::snprintf(focal, sizeof focal, "focal value %g", static_cast<double>(fit.params.focalZ));
    }
    std::snprintf(line, sizeof line, "green: the camera image's outline through the fit   %s", focal);
    cv::putText(picture, line, cv::Point(20, 64), cv::FONT_HERSHEY_SIMPLEX, 0.6, kOutline, 1, cv::LINE_AA);
    return picture;
}

cv::Mat DrawFrameReport(const cv::Mat& frame, const std::vector<PointPair>& pairs, const FitResult& fit,
                        double coverage) {
    cv::Mat picture = ColourCopy(frame);
    picture = picture * 0.6;  // dimmed, so that the drawing stands out
    const Model model(fit.params);
    // The display's edges as the camera sees them, through the fit.
    const std::vector<cv::Point> outline =
        MappedBorder(cv::Size(fit.params.displayWidth, fit.params.displayHeight),
                     [&model](const cv::Point2d& d) { return model.InvertPoint(d); });
    if (outline.size() > 1) {
        cv::polylines(picture, outline, true, kOutline, 2, cv::LINE_AA);
    }
    const double factor = Magnification(fit.max) / 2;
    for (std::size_t i = 0; i < pairs.size() && i < fit.pairs.size(); ++i) {
        const PairFit& p = fit.pairs[i];
        const cv::Point at = Pixel(pairs[i].camera);
        if (!p.inlier) {
            cv::drawMarker(picture, at, kRejected, cv::MARKER_TILTED_CROSS, 14, 2, cv::LINE_AA);
            continue;
        }
        cv::circle(picture, at, 3, kTarget, 1, cv::LINE_AA);
        // The residual, magnified, drawn where the camera sees it.
        const cv::Point2d tip = model.InvertPoint(pairs[i].display + (p.fitted - pairs[i].display) * factor);
        if (std::isfinite(tip.x) && std::isfinite(tip.y)) {
            cv::arrowedLine(picture, at, Pixel(tip), kResidual, 1, cv::LINE_AA, 0, 0.3);
        }
    }
    cv::rectangle(picture, cv::Rect(0, 0, std::min(picture.cols, 560), 82), cv::Scalar(0, 0, 0), cv::FILLED);
    char line[200];
    std::snprintf(line, sizeof line, "%zu corners, %.0f %% of the display; residuals magnified %gx", pairs.size(),
                  100 * coverage, factor);
    cv::putText(picture, line, cv::Point(12, 24), cv::FONT_HERSHEY_SIMPLEX, 0.55, kText, 1, cv::LINE_AA);
    std::snprintf(line, sizeof line, "rms %.3f px, max %.3f px, leave-one-out rms %.3f px", fit.rms, fit.max,
                  fit.leaveOneOutRms);
    cv::putText(picture, line, cv::Point(12, 48), cv::FONT_HERSHEY_SIMPLEX, 0.55, kText, 1, cv::LINE_AA);
    cv::putText(picture, "green: the display's edges through the fit", cv::Point(12, 72), cv::FONT_HERSHEY_SIMPLEX,
                0.55, kOutline, 1, cv::LINE_AA);
    return picture;
}

cv::Mat DrawTarget(int displayWidth, int displayHeight, const cv::Point2d& target, int number) {
    cv::Mat picture(displayHeight, displayWidth, CV_8UC3, cv::Scalar(0, 0, 0));
    const cv::Point t = Pixel(target);
    cv::line(picture, t - cv::Point(40, 0), t + cv::Point(40, 0), kTarget, 2);
    cv::line(picture, t - cv::Point(0, 40), t + cv::Point(0, 40), kTarget, 2);
    cv::circle(picture, t, 12, kTarget, 2, cv::LINE_AA);
    cv::putText(picture, std::to_string(number), t + cv::Point(24, -24), cv::FONT_HERSHEY_SIMPLEX, 1.2, kTarget, 2,
                cv::LINE_AA);
    return picture;
}

}  // namespace quarvel::cli
