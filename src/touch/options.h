#ifndef QUARVEL_SRC_TOUCH_OPTIONS_H
#define QUARVEL_SRC_TOUCH_OPTIONS_H

// The touch options as the library uses them: a value out of its range
// (negative, not a number, absurdly large) is replaced by its default, or
// by "automatic" where the option has one, so that no caller's mistake can
// make a tracker divide by zero or allocate without bound.

#include <quarvel/touch.h>
#include <quarvel/touch_calibration.h>

namespace quarvel::detail {

BlobOptions SaneBlobOptions(BlobOptions options);
TrackerOptions SaneTrackerOptions(TrackerOptions options);  // its blob options too
TouchCalibrationOptions SaneTouchCalibrationOptions(TouchCalibrationOptions options);  // likewise

}  // namespace quarvel::detail

#endif
