#ifndef QUARVEL_SRC_TOUCH_BACKGROUND_PASS_H
#define QUARVEL_SRC_TOUCH_BACKGROUND_PASS_H

// The background's one pass over a frame's pixels, on the widest vectors
// the processor has (Highway's dynamic dispatch): each pixel against the
// background's prediction for the frame, marked where it rises above it,
// and the background learning the frame.

#include <cstddef>
#include <cstdint>

namespace quarvel::detail {

// Per pixel of the background, in one byte beside it.
inline constexpr std::uint8_t kClipped = 1;  // the camera saturated it where nothing was found
inline constexpr std::uint8_t kDarker = 2;   // the last frame was darker than the background there

struct PassParams {
    float gain = 1.0f;    // the frame against the background: gain ...
    float offset = 0.0f;  // ... and offset
    float low = 0.0f;     // marked above the prediction by more than this
    float high = 0.0f;    // finger-bright: above the prediction by more than this, never learned
    float up = 0.0f;      // share learned where the frame is brighter
    float down = 0.0f;    // share learned where it has been darker two frames in a row
    bool learn = true;    // false: the background only takes the gain and offset
};

// One stretch of a row: `grey` the frame's pixels, `values` the background
// (updated in place), `flags` the bytes beside it, `marked` set to 255
// where a pixel rises above the prediction by `low` (and the background is
// not saturated there), else 0. Where it learns, a pixel that is not
// finger-bright moves towards the frame by `up`, or by `down` where the
// frame has been darker by `low` two frames in a row (so that a frame's
// dark fringe, as JPEG rings around a speck, is not taken at once). Where
// nothing is found, a saturated pixel says only that the background is at
// least that bright; when it comes back into range, it is what the frame
// shows. Returns whether any pixel is marked.
bool PassSpan(const std::uint8_t* grey, float* values, std::uint8_t* flags, std::uint8_t* marked, std::size_t n,
              const PassParams& p);

// The same, one pixel at a time: what the vectors compute, for the tests.
bool PassSpanScalar(const std::uint8_t* grey, float* values, std::uint8_t* flags, std::uint8_t* marked, std::size_t n,
                    const PassParams& p);

}  // namespace quarvel::detail

#endif
