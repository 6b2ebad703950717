// Calibrating through a camera the host drives: show a pattern, wait until
// the camera sees it steadily, average a few frames, fit; then measure the
// fit on a second pattern whose corners fall between the first's.

#include <quarvel/pattern.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "base/grey_frame.h"
#include "camera/board.h"
#include "camera/detector.h"
#include "numeric/robust.h"

namespace quarvel::detail {
namespace {

constexpr double kSteadyPixels = 0.3;      // median corner movement between steady frames
constexpr double kSteadyBrightness = 0.04;  // relative change of the mean between steady frames
constexpr double kKeptCorners = 0.9;        // a steady frame finds this share of the most seen
constexpr double kAgreePixels = 0.5;        // a frame's corner this far from the median is left out

struct Phase {
    PatternDetection combined;
    int framesUsed = 0;
    std::string failure;  // why the pattern was not gathered
};

class Session {
public:
    Session(const std::function<cv::Mat(const cv::Mat&)>& capture, const CameraCalibrationOptions& options)
        : capture_(capture), options_(options) {}

    Phase Gather(PatternKind kind, const cv::Mat& picture);

    int framesRead() const { return framesRead_; }
    cv::Size cameraSize() const { return cameraSize_; }

private:
    const std::function<cv::Mat(const cv::Mat&)>& capture_;
    const CameraCalibrationOptions& options_;
    int framesRead_ = 0;
    cv::Size cameraSize_;
    bool mirrored_ = false;
};

// The median distance a corner moved between two detections (infinite
// when they share none).
double MedianMovement(const PatternDetection& a, const PatternDetection& b) {
    std::map<int, cv::Point2d> before;
    for (std::size_t i = 0; i < a.corners.size(); ++i) {
        before[a.corners[i]] = a.pairs[i].camera;
    }
    std::vector<double> moved;
    for (std::size_t i = 0; i < b.corners.size(); ++i) {
        const auto it = before.find(b.corners[i]);
        if (it != before.end()) {
            moved.push_back(cv::norm(it->second - b.pairs[i].camera));
        }
    }
    if (moved.empty()) {
        return std::numeric_limits<double>::infinity();
    }
    return MedianInPlace(moved);
}

// Each corner seen in at least half of the frames, at the mean of the
// positions near its median.
PatternDetection Combine(const std::vector<PatternDetection>& frames, cv::Size display, PatternKind kind) {
    std::map<int, std::vector<cv::Point2d>> seen;
    std::map<int, cv::Point2d> shownAt;
    int mirrored = 0;
    PatternDetection out;
    for (const PatternDetection& f : frames) {
        mirrored += f.mirrored ? 1 : 0;
        out.markers = std::max(out.markers, f.markers);
        for (std::size_t i = 0; i < f.corners.size(); ++i) {
            seen[f.corners[i]].push_back(f.pairs[i].camera);
            shownAt[f.corners[i]] = f.pairs[i].display;
        }
    }
    for (const auto& [corner, positions] : seen) {
        if (2 * positions.size() < frames.size()) {
            continue;
        }
        std::vector<double> xs;
        std::vector<double> ys;
        for (const cv::Point2d& p : positions) {
            xs.push_back(p.x);
            ys.push_back(p.y);
        }
        const cv::Point2d median(Median(xs), Median(ys));
        cv::Point2d sum(0, 0);
        int n = 0;
        for (const cv::Point2d& p : positions) {
            if (cv::norm(p - median) <= kAgreePixels) {
                sum += p;
                ++n;
            }
        }
        out.pairs.push_back({n > 0 ? sum / n : median, shownAt[corner]});
        out.corners.push_back(corner);
    }
    out.mirrored = 2 * mirrored > static_cast<int>(frames.size());
    out.coverage = Coverage(out.pairs, display);
    out.patternCoverage = PatternCoverage(out.pairs, display, kind);
    out.ok = !out.pairs.empty();
    return out;
}

Phase Session::Gather(PatternKind kind, const cv::Mat& picture) {
    Phase phase;
    std::vector<PatternDetection> collected;
    PatternDetection previous;
    double previousBrightness = -1;
    std::size_t most = 0;
    const int needed = std::max(1, options_.framesToCombine);
    for (int frames = 0; frames < std::max(options_.maxFrames, needed); ++frames) {
        cv::Mat frame;
        try {
            frame = capture_(picture);
        } catch (const std::exception& e) {
            phase.failure = std::string("the camera failed: ") + e.what();
            return phase;
        } catch (...) {
            phase.failure = "the camera failed";
            return phase;
        }
        ++framesRead_;
        if (frame.empty()) {
            phase.failure = "the camera gave no frame";
            return phase;
        }
        const cv::Mat grey = GreyFrame(frame);
        if (grey.empty()) {
            phase.failure = "the camera's frames are not 8-bit grey, BGR or BGRA images";
            return phase;
        }
        if (cameraSize_.empty()) {
            cameraSize_ = grey.size();
        } else if (grey.size() != cameraSize_) {
            phase.failure = "the camera's frame size changed";
            return phase;
        }
        PatternDetection seen = Detect(grey, options_.displayWidth, options_.displayHeight, kind, mirrored_);
        mirrored_ = seen.pairs.empty() ? mirrored_ : seen.mirrored;
        const double brightness = cv::mean(grey)[0];
        most = std::max(most, seen.pairs.size());
        // Steady: this frame agrees with the one before in what it shows,
        // where it shows it and how bright it is.
        const bool steady =
            seen.pairs.size() >= 8 && static_cast<double>(seen.pairs.size()) >= kKeptCorners * static_cast<double>(most) &&
            MedianMovement(previous, seen) < kSteadyPixels &&
            std::abs(brightness - previousBrightness) <= kSteadyBrightness * std::max(previousBrightness, 1.0);
        if (steady) {
            collected.push_back(seen);
        } else {
            collected.clear();
        }
        CameraProgress progress;
        progress.showing = kind;
        progress.frame = framesRead_;
        progress.corners = static_cast<int>(seen.pairs.size());
        progress.settled = steady;
        progress.collected = static_cast<int>(collected.size());
        progress.needed = needed;
        if (options_.progress && !options_.progress(progress)) {
            phase.failure = "aborted";
            return phase;
        }
        if (static_cast<int>(collected.size()) >= needed) {
            phase.combined = Combine(collected, cv::Size(options_.displayWidth, options_.displayHeight), kind);
            phase.framesUsed = needed;
            return phase;
        }
        previous = std::move(seen);
        previousBrightness = brightness;
    }
    phase.failure = std::string(kind == PatternKind::Calibration ? "the calibration" : "the validation") +
                    " pattern did not settle in the camera within " + std::to_string(options_.maxFrames) +
                    " frames" + (most == 0 ? " (it was never seen)" : "");
    return phase;
}

CameraCalibrationResult Calibrate(const std::function<cv::Mat(const cv::Mat&)>& capture,
                                  const CameraCalibrationOptions& options) {
    CameraCalibrationResult result;
    result.validationRms = result.validationMax = std::numeric_limits<double>::quiet_NaN();
    if (!capture) {
        result.reason = "no camera to capture with";
        return result;
    }
    const cv::Mat calibration = MakeCalibrationPattern(options.displayWidth, options.displayHeight).picture;
    const cv::Mat validation = MakeValidationPattern(options.displayWidth, options.displayHeight).picture;
    if (calibration.empty() || validation.empty()) {
        result.reason = "the display size must be positive and hold a pattern";
        return result;
    }
    Session session(capture, options);
    const Phase first = session.Gather(PatternKind::Calibration, calibration);
    result.framesRead = session.framesRead();
    result.cameraSize = session.cameraSize();
    if (!first.failure.empty()) {
        result.reason = first.failure;
        return result;
    }
    result.detection = first.combined;
    result.framesUsed = first.framesUsed;
    FitOptions fit;
    fit.imageWidth = result.cameraSize.width;
    fit.imageHeight = result.cameraSize.height;
    fit.displayWidth = options.displayWidth;
    fit.displayHeight = options.displayHeight;
    fit.barrel = options.barrel;
    fit.lens = options.lens;
    fit.outlierPixels = options.outlierPixels;
    result.fit = FitCalibration(first.combined.pairs, fit);
    if (!result.fit.ok) {
        result.reason = "no trustworthy fit: " + result.fit.reason;
        return result;
    }
    const Phase second = session.Gather(PatternKind::Validation, validation);
    result.framesRead = session.framesRead();
    if (!second.failure.empty()) {
        result.reason = second.failure;
        return result;
    }
    result.framesUsed += second.framesUsed;
    // The fitted calibration as the written file computes it, on corners it
    // was not fitted to.
    const Model model(result.fit.params);
    double sum = 0;
    double worst = 0;
    for (const PointPair& p : second.combined.pairs) {
        const double e = cv::norm(model.CorrectPointSubpixel(p.camera) - p.display);
        sum += e * e;
        worst = std::max(worst, e);
    }
    result.validationPairs = static_cast<int>(second.combined.pairs.size());
    if (result.validationPairs == 0) {
        result.reason = "the validation pattern's corners were not seen";
        return result;
    }
    result.validationRms = std::sqrt(sum / result.validationPairs);
    result.validationMax = worst;
    // Measured through the camera, the validation's error is the figure to
    // expect where it lies above the fit's own estimate.
    result.fit.expectedRms = std::max(result.fit.expectedRms, result.validationRms);
    result.fit.expectedMax = std::max(result.fit.expectedMax, result.validationMax);
    result.ok = true;
    return result;
}

}  // namespace
}  // namespace quarvel::detail

namespace quarvel {

CameraCalibrationResult CalibrateWithCamera(const std::function<cv::Mat(const cv::Mat& shown)>& capture,
                                            const CameraCalibrationOptions& options) {
    try {
        return detail::Calibrate(capture, options);
    } catch (const std::exception& e) {
        CameraCalibrationResult result;
        result.reason = std::string("the calibration failed: ") + e.what();
        return result;
    } catch (...) {
        CameraCalibrationResult result;
        result.reason = "the calibration failed";
        return result;
    }
}

}  // namespace quarvel
