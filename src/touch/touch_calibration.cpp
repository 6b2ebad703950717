#include <quarvel/touch_calibration.h>

#include <cmath>
#include <deque>
#include <exception>

#include "base/grey_frame.h"
#include "touch/blob_detector.h"
#include "touch/options.h"

namespace quarvel {
namespace detail {

struct TouchCalibrationState {
    explicit TouchCalibrationState(const TouchCalibrationOptions& o)
        : options(SaneTouchCalibrationOptions(o)),
          detector(options.blobs),
          targets(TargetGrid(o.columns, o.rows, cv::Size(o.displayWidth, o.displayHeight))) {}

    struct Sample {
        double seconds;
        cv::Point2d position;
    };

    TouchCalibrationOptions options;
    BlobDetector detector;
    std::vector<cv::Point2d> targets;
    std::vector<PointPair> measured;
    std::vector<Blob> blobs;
    std::deque<Sample> hold;  // the finger's positions while it holds still
    bool liftFirst = false;   // a finger down since the last target was measured must lift
    double liftSince = 0.0;   // when the wait for it began
    long long frames = 0;

    static cv::Point2d Mean(const std::deque<Sample>& samples) {
        cv::Point2d sum;
        for (const Sample& s : samples) {
            sum += s.position;
        }
        return sum / static_cast<double>(samples.size());
    }

    // Drops the oldest positions until all that remain lie within
    // stillPixels of their mean: the hold starts again when the finger slides.
    void KeepStill() {
        while (hold.size() > 1) {
            const cv::Point2d mean = Mean(hold);
            bool still = true;
            for (const Sample& s : hold) {
                if (cv::norm(s.position - mean) > options.stillPixels) {
                    still = false;
                    break;
                }
            }
            if (still) {
                return;
            }
            hold.pop_front();
        }
    }

    TouchCalibrationStatus Step(const cv::Mat& frame, double seconds) {
        TouchCalibrationStatus status;
        const long long number = frames++;
        status.target = static_cast<int>(measured.size());
        if (measured.size() >= targets.size()) {
            status.phase = TouchCalibrationStatus::Phase::Done;
            return status;
        }
        const cv::Mat grey = GreyFrame(frame);
        if (grey.empty()) {
            status.phase = detector.learning() ? TouchCalibrationStatus::Phase::Learning
                                                : TouchCalibrationStatus::Phase::WaitingTouch;
            hold.clear();  // a frame without a finger
            liftFirst = false;
            return status;
        }
        if (grey.size() != detector.size()) {  // the detector starts over for it
            measured.clear();  // pairs from another camera size do not fit together
            hold.clear();
            liftFirst = false;
            status.target = 0;
        }
        switch (detector.Detect(grey, blobs)) {
            case BlobDetector::Outcome::Learning:
                status.phase = TouchCalibrationStatus::Phase::Learning;
                return status;
            case BlobDetector::Outcome::Lost:
                status.phase = hold.empty() ? TouchCalibrationStatus::Phase::WaitingTouch
                                             : TouchCalibrationStatus::Phase::Holding;
                return status;  // a frame that says nothing
            case BlobDetector::Outcome::Detected:
                break;
        }
        if (blobs.empty()) {
            liftFirst = false;
            hold.clear();
            status.phase = TouchCalibrationStatus::Phase::WaitingTouch;
            return status;
        }
        const double t = std::isfinite(seconds) ? seconds : static_cast<double>(number) / options.framesPerSecond;
        if (liftFirst) {
            return WaitForLift(grey, t, status);
        }
        return Hold(t, status);
    }

    // After a measurement: nothing new is measured until what is in view
    // has lifted, or has stayed too long and is taken into the background.
    TouchCalibrationStatus WaitForLift(const cv::Mat& grey, double t, TouchCalibrationStatus status) {
        std::size_t largest = 0;
        for (std::size_t i = 1; i < blobs.size(); ++i) {
            largest = blobs[i].area > blobs[largest].area ? i : largest;
        }
        status.phase = TouchCalibrationStatus::Phase::WaitingLift;
        status.camera = blobs[largest].centre;
        status.waited = t - liftSince;
        if (status.waited >= options.liftWaitSeconds) {
            // What stays in view this long is not the finger that was
            // measured: it becomes background, and the next target is on.
            for (const Blob& b : blobs) {
                detector.Absorb(grey, b.box);
            }
            status.absorbed = static_cast<int>(blobs.size());
            status.phase = TouchCalibrationStatus::Phase::WaitingTouch;
            liftFirst = false;
            hold.clear();
        }
        return status;
    }

    // The finger on the current target, held still long enough: measured.
    TouchCalibrationStatus Hold(double t, TouchCalibrationStatus status) {
        // The finger: the blob nearest to where it held, or the largest.
        std::size_t pick = 0;
        for (std::size_t i = 1; i < blobs.size(); ++i) {
            const bool better = hold.empty() ? blobs[i].area > blobs[pick].area
                                             : cv::norm(blobs[i].centre - hold.back().position) <
                                                   cv::norm(blobs[pick].centre - hold.back().position);
            if (better) {
                pick = i;
            }
        }
        hold.push_back({t, blobs[pick].centre});
        KeepStill();
        status.camera = blobs[pick].centre;
        status.held = hold.back().seconds - hold.front().seconds;
        if (status.held + 1e-9 < options.holdSeconds) {
            status.phase = TouchCalibrationStatus::Phase::Holding;
            return status;
        }
        const cv::Point2d at = Mean(hold);
        measured.push_back({at, targets[measured.size()]});
        hold.clear();
        liftFirst = true;
        liftSince = t;
        status.phase = TouchCalibrationStatus::Phase::Measured;
        status.camera = at;
        return status;
    }
};

}  // namespace detail

TouchCalibration::TouchCalibration(const TouchCalibrationOptions& options)
    : state_(std::make_unique<detail::TouchCalibrationState>(options)) {}

TouchCalibration::~TouchCalibration() = default;
TouchCalibration::TouchCalibration(TouchCalibration&&) noexcept = default;
TouchCalibration& TouchCalibration::operator=(TouchCalibration&&) noexcept = default;

std::optional<cv::Point2d> TouchCalibration::CurrentTarget() const {
    if (state_->measured.size() >= state_->targets.size()) {
        return std::nullopt;
    }
    return state_->targets[state_->measured.size()];
}

const std::vector<cv::Point2d>& TouchCalibration::targets() const noexcept { return state_->targets; }

TouchCalibrationStatus TouchCalibration::Feed(const cv::Mat& frame, double seconds) {
    try {
        return state_->Step(frame, seconds);
    } catch (const std::exception&) {
        TouchCalibrationStatus status;  // out of memory, or OpenCV on a strange frame: no touch
        status.phase = TouchCalibrationStatus::Phase::WaitingTouch;
        status.target = static_cast<int>(state_->measured.size());
        return status;
    }
}

const std::vector<PointPair>& TouchCalibration::measurements() const noexcept { return state_->measured; }

FitResult TouchCalibration::Result() const {
    FitOptions o;
    o.imageWidth = state_->detector.size().width;
    o.imageHeight = state_->detector.size().height;
    o.displayWidth = state_->options.displayWidth;
    o.displayHeight = state_->options.displayHeight;
    o.barrel = state_->options.barrel;
    o.lens = state_->options.lens;
    o.outlierPixels = state_->options.outlierPixels;
    return FitCalibration(state_->measured, o);
}

}  // namespace quarvel
