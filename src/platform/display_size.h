#ifndef QUARVEL_SRC_PLATFORM_DISPLAY_SIZE_H
#define QUARVEL_SRC_PLATFORM_DISPLAY_SIZE_H

#include <vector>

#include <quarvel/load_report.h>

namespace quarvel::detail {

struct DisplaySize {
    int width;
    int height;
};

// The size used when no display can be reached: the size the preview
// canvas is laid out for.
inline constexpr DisplaySize kFallbackDisplaySize{1680, 1050};

// How long a load keeps asking an X server that refused or dropped the
// connection (a server resetting after its last client left answers again
// within a few milliseconds; a DISPLAY that names no server costs this).
inline constexpr int kXRetryMilliseconds = 50;

// The display a set-up uses, asked afresh on every call, in this order:
// the X server named by DISPLAY (RandR 1.3+ primary output's CRTC size,
// else the screen size; retried for kXRetryMilliseconds when the
// connection fails or breaks), then, when WAYLAND_DISPLAY is set, the
// Wayland output at logical position (0, 0) or else the first, then
// kFallbackDisplaySize. Never aborts, never raises a signal in the host.
DisplayInfo QueryDisplay() noexcept;

// The size of QueryDisplay().
DisplaySize QueryDisplaySize() noexcept;

// Every output a host could calibrate for: the X server's RandR outputs
// (its screen when it has none), else the Wayland outputs, else the
// fallback. Exactly one entry is marked `used`: the one QueryDisplay picks.
std::vector<DisplayInfo> ListDisplays() noexcept;

// Replaces what QueryDisplay asks (null restores the platform) and returns
// the previous source. The set-up is run against chosen display sizes
// through this seam; its sizes are reported as an X screen.
using DisplaySizeSource = DisplaySize (*)();
DisplaySizeSource SetDisplaySizeSource(DisplaySizeSource source) noexcept;

}  // namespace quarvel::detail

#endif
