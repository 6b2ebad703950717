#ifndef QUARVEL_SRC_PLATFORM_DISPLAY_SIZE_H
#define QUARVEL_SRC_PLATFORM_DISPLAY_SIZE_H

namespace quarvel::detail {

struct DisplaySize {
    int width;
    int height;
};

// The size used when no display can be reached: the size the preview
// canvas is laid out for.
inline constexpr DisplaySize kFallbackDisplaySize{1680, 1050};

// The primary display's size in pixels, asked afresh on every call: the mode
// size of the X server's RandR primary output, else the default screen's
// size, else (no X display reachable, as on a headless host)
// kFallbackDisplaySize. Never aborts the process on X errors.
DisplaySize QueryDisplaySize() noexcept;

// The same query without any source override: always asks the X server.
DisplaySize QueryXDisplaySize() noexcept;

// Replaces the source QueryDisplaySize asks (null restores the X server)
// and returns the previous one. This is the seam through which the set-up
// is run against chosen display sizes.
using DisplaySizeSource = DisplaySize (*)();
DisplaySizeSource SetDisplaySizeSource(DisplaySizeSource source) noexcept;

}  // namespace quarvel::detail

#endif
