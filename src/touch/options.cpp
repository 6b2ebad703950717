#include "touch/options.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarvel::detail {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kLargest = std::numeric_limits<double>::max();        // finite
constexpr double kPositive = std::numeric_limits<double>::denorm_min();  // above zero

// `value` stays where it lies within [low, high]; anything else (NaN
// included) becomes `fallback`.
void Within(double& value, double low, double high, double fallback) {
    if (!(value >= low && value <= high)) {
        value = fallback;
    }
}

}  // namespace

BlobOptions SaneBlobOptions(BlobOptions o) {
    const BlobOptions d;
    o.backgroundFrames = std::clamp(o.backgroundFrames, 1, 10000);
    Within(o.settleChange, 0.0, 1e9, d.settleChange);
    Within(o.threshold, kPositive, std::nextafter(255.0, 0.0), 0.0);  // 0: automatic
    Within(o.fingerDiameter, 0.0, 1e6, 0.0);
    Within(o.minArea, 0.0, 1e12, 0.0);
    Within(o.maxArea, 0.0, 1e12, 0.0);
    Within(o.adaptation, 0.0, 1.0, d.adaptation);
    Within(o.darkening, 0.0, 1.0, d.darkening);
    o.relearnFrames = std::clamp(o.relearnFrames, 1, 100000);
    o.quietFrames = std::clamp(o.quietFrames, 0, 100000);
    o.maxBlobs = std::clamp(o.maxBlobs, 1, 100000);
    o.stormSpecks = std::max(o.stormSpecks, 0);
    return o;
}

TrackerOptions SaneTrackerOptions(TrackerOptions o) {
    const TrackerOptions d;
    o.blobs = SaneBlobOptions(o.blobs);
    Within(o.maxJump, 0.0, kInfinity, 0.0);  // 0: automatic
    o.coastFrames = std::clamp(o.coastFrames, 0, 1000);
    Within(o.absorbSeconds, 0.0, kInfinity, d.absorbSeconds);
    Within(o.absorbPixels, 0.0, kLargest, d.absorbPixels);
    Within(o.framesPerSecond, kPositive, kLargest, d.framesPerSecond);
    return o;
}

TouchCalibrationOptions SaneTouchCalibrationOptions(TouchCalibrationOptions o) {
    const TouchCalibrationOptions d;
    o.blobs = SaneBlobOptions(o.blobs);
    Within(o.holdSeconds, 0.0, kLargest, d.holdSeconds);
    Within(o.stillPixels, kPositive, kLargest, d.stillPixels);
    Within(o.framesPerSecond, kPositive, kLargest, d.framesPerSecond);
    Within(o.liftWaitSeconds, 0.0, kInfinity, d.liftWaitSeconds);
    return o;
}

}  // namespace quarvel::detail
