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

// Where the display is covered by pairs (green), seen but beyond them,
// extrapolated (amber), or not seen (grey), with the cells whose expected
// error passes half a pixel in red: the fit's maps, at `size`.
cv::Mat CoveragePicture(const FitResult& fit, cv::Size size) {
    cv::Mat cells(fit.coverage.size(), CV_8UC3, cv::Scalar(55, 55, 55));
    for (int r = 0; r < fit.coverage.rows; ++r) {
        for (int c = 0; c < fit.coverage.cols; ++c) {
            const unsigned char kind = fit.coverage.at<unsigned char>(r, c);
            const float e = fit.expectedError.empty() ? 0.0f : fit.expectedError.at<float>(r, c);
            cv::Vec3b colour(55, 55, 55);
            if (kind == 2) {
                colour = cv::Vec3b(70, 170, 70);
            } else if (kind == 1) {
                colour = cv::Vec3b(40, 160, 230);
            }
            if (kind != 0 && e > 0.5f) {
                colour = cv::Vec3b(50, 50, 220);
            }
            cells.at<cv::Vec3b>(r, c) = colour;
        }
    }
    cv::Mat picture;
    if (!cells.empty()) {
        cv::resize(cells, picture, size, 0, 0, cv::INTER_NEAREST);
    }
    return picture;
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
    // Faintly, behind everything: where the pairs cover the display.
    const cv::Mat coverage = CoveragePicture(fit, picture.size());
    if (!coverage.empty()) {
        cv::addWeighted(picture, 0.75, coverage, 0.25, 0.0, picture);
    }
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
    std::snprintf(line, sizeof line, "expected error over the display %.3f px rms, %.3f px max (%s)", fit.expectedRms,
                  fit.expectedMax, fit.model.c_str());
    cv::putText(picture, line, cv::Point(20, 94), cv::FONT_HERSHEY_SIMPLEX, 0.6, kText, 1, cv::LINE_AA);
    cv::putText(picture, "behind: green between the pairs, amber beyond them, grey not seen, red over 0.5 px",
                cv::Point(20, 124), cv::FONT_HERSHEY_SIMPLEX, 0.6, kText, 1, cv::LINE_AA);
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
    const double text = std::max(0.45, picture.cols / 2300.0);
    const int row = static_cast<int>(std::lround(44 * text));
    char first[240];
    char second[240];
    char third[240];
    std::snprintf(first, sizeof first, "%zu corners, %.0f %% of the display; residuals magnified %gx", pairs.size(),
                  100 * coverage, factor);
    std::snprintf(second, sizeof second, "rms %.3f px, max %.3f px, leave-one-out rms %.3f px", fit.rms, fit.max,
                  fit.leaveOneOutRms);
    std::snprintf(third, sizeof third, "expected over the display %.3f px rms, %.3f px max: %s", fit.expectedRms,
                  fit.expectedMax, fit.model.c_str());
    const std::string lines[4] = {first, second, third, "green: the display's edges through the fit"};
    int wide = 0;
    for (const std::string& l : lines) {
        int baseline = 0;
        wide = std::max(wide, cv::getTextSize(l, cv::FONT_HERSHEY_SIMPLEX, text, 1, &baseline).width);
    }
    cv::rectangle(picture, cv::Rect(0, 0, std::min(picture.cols, wide + 24), 4 * row + 10), cv::Scalar(0, 0, 0),
                  cv::FILLED);
    for (int i = 0; i < 4; ++i) {
        cv::putText(picture, lines[i], cv::Point(12, (i + 1) * row), cv::FONT_HERSHEY_SIMPLEX, text,
                    i == 3 ? kOutline : kText, 1, cv::LINE_AA);
    }
    // The display as the pairs cover it, in a corner: green between the
    // corners, amber beyond them, grey where the camera does not see it, red
    // where more than half a pixel is to be expected.
    const int insetWidth = picture.cols / 3;
    const int insetHeight = fit.params.displayWidth > 0
                                ? insetWidth * fit.params.displayHeight / fit.params.displayWidth
                                : 0;
    const cv::Mat inset = CoveragePicture(fit, cv::Size(insetWidth, insetHeight));
    if (!inset.empty() && insetHeight + 8 < picture.rows) {
        const cv::Rect at(picture.cols - insetWidth - 8, picture.rows - insetHeight - 8, insetWidth, insetHeight);
        inset.copyTo(picture(at));
        cv::rectangle(picture, at, kText, 1);
        const std::string legend = "display: green covered, amber extrapolated, grey unseen, red > 0.5 px";
        int baseline = 0;
        const cv::Size size = cv::getTextSize(legend, cv::FONT_HERSHEY_SIMPLEX, 1.0, 1, &baseline);
        const double fit = std::min(text, 0.98 * insetWidth / std::max(1, size.width));
        cv::putText(picture, legend, cv::Point(at.x, at.y - 8), cv::FONT_HERSHEY_SIMPLEX, fit, kText, 1, cv::LINE_AA);
    }
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
