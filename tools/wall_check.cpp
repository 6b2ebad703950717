// quarvel check A.ini [--frame a.png] B.ini [--frame b.png] ...: how much
// of the display a wall's cameras see, once and twice, and where two
// overlap, how far their calibrations disagree on the targets of a pattern
// both see.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <quarvel/model.h>
#include <quarvel/parameter_file.h>
#include <quarvel/pattern.h>

#include "camera_source.h"
#include "track_setup.h"
#include "wall_check.h"

namespace quarvel::cli {
namespace {

constexpr int kStep = 4;                 // display pixels between the points the coverage is counted on
constexpr double kDisagreementLimit = 1.0;  // display pixels: a seam beyond this fails the check

struct Checked {
    std::string params;
    Model model;
    cv::Mat seen;  // CV_8U, one cell per kStep display pixels: 1 where the camera sees the display
    std::optional<PatternDetection> pattern;
};

// Where the camera sees the display, on the grid of cells.
cv::Mat SeenCells(const Model& model, cv::Size cells) {
    cv::Mat points(cells, CV_64FC2);
    for (int y = 0; y < cells.height; ++y) {
        for (int x = 0; x < cells.width; ++x) {
            points.at<cv::Vec2d>(y, x) = cv::Vec2d(kStep * x + kStep / 2.0 - 0.5, kStep * y + kStep / 2.0 - 0.5);
        }
    }
    cv::Mat camera;
    cv::Mat seen = cv::Mat::zeros(cells, CV_8U);
    if (!model.InvertPoints(points.reshape(2, static_cast<int>(points.total())), camera).ok) {
        return seen;
    }
    camera = camera.reshape(2, cells.height);
    const double w = model.params().imageWidth - 0.5;
    const double h = model.params().imageHeight - 0.5;
    for (int y = 0; y < cells.height; ++y) {
        for (int x = 0; x < cells.width; ++x) {
            const cv::Vec2d c = camera.at<cv::Vec2d>(y, x);
            if (!std::isfinite(c[0]) || !std::isfinite(c[1]) || c[0] < -0.5 || c[1] < -0.5 || c[0] > w || c[1] > h) {
                continue;
            }
            // Far beyond what the camera sees, a lens's polynomial can fold
            // back into the image: only a point that maps back to itself.
            const cv::Vec2d d = points.at<cv::Vec2d>(y, x);
            seen.at<std::uint8_t>(y, x) = cv::norm(model.CorrectPointSubpixel({c[0], c[1]}) - cv::Point2d(d[0], d[1])) < 1.0;
        }
    }
    return seen;
}

double Share(const cv::Mat& mask) { return mask.empty() ? 0.0 : 100.0 * cv::countNonZero(mask) / mask.total(); }

// Two cameras' calibrations on the corners of the pattern both found: how
// far apart they put each on the display. False when fewer than 3 shared.
bool Disagreement(const Checked& a, const Checked& b, double& rms, double& max, int& shared) {
    double sum = 0.0;
    max = 0.0;
    shared = 0;
    for (std::size_t i = 0; i < a.pattern->corners.size(); ++i) {
        const auto j = std::find(b.pattern->corners.begin(), b.pattern->corners.end(), a.pattern->corners[i]);
        if (j == b.pattern->corners.end()) {
            continue;
        }
        const auto k = static_cast<std::size_t>(j - b.pattern->corners.begin());
        const double d = cv::norm(a.model.CorrectPointSubpixel(a.pattern->pairs[i].camera) -
                                  b.model.CorrectPointSubpixel(b.pattern->pairs[k].camera));
        sum += d * d;
        max = std::max(max, d);
        ++shared;
    }
    rms = shared > 0 ? std::sqrt(sum / shared) : 0.0;
    return shared >= 3;
}

// The coverage as a picture: grey unseen, then darker to lighter green for
// one, two, three or more cameras, each camera's outline in white.
bool WriteCoverage(const std::string& path, const std::vector<Checked>& cameras, const cv::Mat& count) {
    static const cv::Vec3b kColours[] = {{60, 60, 60}, {60, 120, 40}, {80, 190, 60}, {140, 240, 120}};
    cv::Mat picture(count.size(), CV_8UC3);
    for (int y = 0; y < count.rows; ++y) {
        for (int x = 0; x < count.cols; ++x) {
            picture.at<cv::Vec3b>(y, x) = kColours[std::min<int>(count.at<std::uint8_t>(y, x), 3)];
        }
    }
    for (const Checked& c : cameras) {
        std::vector<std::vector<cv::Point>> outline;
        cv::findContours(c.seen.clone(), outline, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        cv::drawContours(picture, outline, -1, cv::Scalar(255, 255, 255), 1);
    }
    try {
        return cv::imwrite(path, picture);
    } catch (const cv::Exception&) {
        return false;
    }
}

// Each camera's file (and frame), loaded for one display. Exit status.
int LoadChecked(const ParsedArgs& parsed, const std::vector<WallCamera>& cameras, std::vector<Checked>& out) {
    cv::Size display;
    if (parsed.Has("display")) {
        const auto size = ParseSize(parsed.Get("display"));
        if (!size) {
            return UsageError("check ", "check: a wall needs --display WxH (a size)");
        }
        display = cv::Size(size->first, size->second);
    }
    for (const WallCamera& camera : cameras) {
        const ParameterFile file = ReadParameterFile(camera.params);
        if (!file.ok) {
            return Fail(kUsage, "'" + camera.params + "' holds no usable calibration" +
                                    (file.reason.empty() ? std::string() : ": " + file.reason));
        }
        if (display.area() <= 0) {
            display = cv::Size(file.params.displayWidth, file.params.displayHeight);
        }
        if (display.area() <= 0) {
            return UsageError("check ", "check: '" + camera.params + "' records no display: give --display WxH");
        }
        Checked c{camera.params, Model(file.params, display), {}, std::nullopt};
        if (!camera.source.empty()) {
            const cv::Mat frame = ReadGreyImage(camera.source);
            if (frame.empty()) {
                return Fail(kUsage, "cannot read frame '" + camera.source + "'");
            }
            c.pattern = DetectCalibrationPattern(frame, display.width, display.height, PatternKind::Validation);
            if (!c.pattern->ok) {
                c.pattern = DetectCalibrationPattern(frame, display.width, display.height, PatternKind::Calibration);
            }
        }
        out.push_back(std::move(c));
    }
    return kSuccess;
}

// Each pair that overlaps: its share of the display and, where both have a
// frame, how far they disagree. Whether every seam holds.
bool ReportOverlaps(const std::vector<Checked>& cameras) {
    bool holds = true;
    for (std::size_t a = 0; a < cameras.size(); ++a) {
        for (std::size_t b = a + 1; b < cameras.size(); ++b) {
            cv::Mat both;
            cv::bitwise_and(cameras[a].seen, cameras[b].seen, both);
            if (cv::countNonZero(both) == 0) {
                continue;
            }
            const cv::Rect box = cv::boundingRect(both);
            std::printf("overlap %s / %s: %.1f %% of the display (x %d..%d, y %d..%d)\n", cameras[a].params.c_str(),
                        cameras[b].params.c_str(), Share(both), box.x * kStep, (box.x + box.width) * kStep,
                        box.y * kStep, (box.y + box.height) * kStep);
            double rms = 0.0, max = 0.0;
            int shared = 0;
            if (!cameras[a].pattern || !cameras[b].pattern) {
                std::printf("  disagreement: not measured (give each camera --frame with the pattern shown)\n");
            } else if (!Disagreement(cameras[a], cameras[b], rms, max, shared)) {
                std::printf("  disagreement: not measured (%d targets of the pattern seen by both)\n", shared);
            } else {
                const bool ok = max <= kDisagreementLimit;
                holds = holds && ok;
                std::printf("  disagreement over %d targets both see: rms %.3f, max %.3f display px%s\n", shared, rms,
                            max, ok ? "" : " (warning: over 1 px, the seam will show: calibrate these cameras again)");
            }
        }
    }
    return holds;
}

}  // namespace

int RunWallCheck(const ParsedArgs& parsed, const std::vector<WallCamera>& cameras) {
    for (const WallCamera& c : cameras) {
        if (!c.option.empty() && c.option != "frame") {
            return UsageError("check ", "check: each PARAMS may be followed by --frame FRAME only");
        }
    }
    std::vector<Checked> checked;
    if (const int status = LoadChecked(parsed, cameras, checked); status != kSuccess) {
        return status;
    }
    const cv::Size display = checked.front().model.display();
    const cv::Size cells((display.width + kStep - 1) / kStep, (display.height + kStep - 1) / kStep);
    cv::Mat count = cv::Mat::zeros(cells, CV_8U);
    bool findings = false;
    std::printf("wall of %zu cameras on a %d x %d display\n", checked.size(), display.width, display.height);
    for (Checked& c : checked) {
        c.seen = SeenCells(c.model, cells);
        count += c.seen;
        std::printf("  %s: sees %.1f %% of the display", c.params.c_str(), Share(c.seen));
        if (c.pattern) {
            std::printf("; %zu targets of the pattern in its frame", c.pattern->pairs.size());
        }
        std::printf("\n");
        findings = findings || cv::countNonZero(c.seen) == 0;
    }
    std::printf("coverage: %.1f %% of the display seen by at least one camera, %.1f %% by two or more\n",
                Share(count >= 1), Share(count >= 2));
    findings = !ReportOverlaps(checked) || findings;
    const std::string picture = parsed.Get("output");
    if (!picture.empty() && !WriteCoverage(picture, checked, count)) {
        return Fail(kUsage, "cannot write '" + picture + "'");
    }
    return findings ? kFinding : kSuccess;
}

}  // namespace quarvel::cli
