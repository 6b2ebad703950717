#ifndef QUARVEL_DISPLAY_H
#define QUARVEL_DISPLAY_H

// The displays a calibration can be fitted to, as the platform reports
// them: the X server named by DISPLAY (over XCB with RandR), else the
// Wayland compositor named by WAYLAND_DISPLAY, else a fallback. No call
// here ends, signals or otherwise disturbs the host; the environment is
// only read.

#include <string>
#include <vector>

#include <quarvel/export.h>

namespace quarvel {

// The display size assumed when nothing answers (the platform's fallback),
// and when a set-up is given none and the parameters record none.
inline constexpr int kAssumedDisplayWidth = 1680;
inline constexpr int kAssumedDisplayHeight = 1050;

// Where a display size came from, in the order the platform is asked.
enum class DisplaySource {
    Host,           // fixed by the host (Quarvel::SetDisplaySize)
    RandrOutput,    // the X server's RandR 1.3+ primary output (its CRTC size)
    XScreen,        // the X server's screen (no primary output, RandR < 1.3)
    WaylandOutput,  // a Wayland output (no X server reachable, WAYLAND_DISPLAY set)
    Fallback,       // nothing answered: 1680 x 1050
};

// "host", "RandR output", "X screen", "Wayland output", "fallback".
inline const char* ToString(DisplaySource source) noexcept {
    switch (source) {
        case DisplaySource::Host: return "host";
        case DisplaySource::RandrOutput: return "RandR output";
        case DisplaySource::XScreen: return "X screen";
        case DisplaySource::WaylandOutput: return "Wayland output";
        case DisplaySource::Fallback: return "fallback";
    }
    return "unknown";
}

// A display size and where it came from. `name` is the output's name for
// RandR and Wayland outputs ("HDMI-1"), empty otherwise; `x`, `y` its
// position on the X screen or in the compositor's layout.
struct DisplayInfo {
    int width = 0;
    int height = 0;
    DisplaySource source = DisplaySource::Fallback;
    std::string name;
    // ListDisplays only: the output a load would use.
    bool used = false;
    int x = 0;
    int y = 0;
};

// The display a load fits to when the host has fixed none, asked now: the
// X server's RandR 1.3+ primary output (its CRTC size), else its screen;
// else the Wayland output at logical (0, 0), else the first; else
// 1680 x 1050 (DisplaySource::Fallback). A server that refuses the
// connection is given up at once; one that accepts and drops it (a server
// resetting after its last client left) is asked again for up to 50 ms.
QUARVEL_EXPORT DisplayInfo QueryDisplay() noexcept;

// Every output a load could fit to: the X server's RandR outputs (its
// screen when it has none), else the Wayland outputs, else the fallback.
// Exactly one is marked `used`: the one QueryDisplay picks.
QUARVEL_EXPORT std::vector<DisplayInfo> ListDisplays() noexcept;

// True when an X server accepts a connection now: what a window needs
// (OpenCV's windows would end the process without one).
QUARVEL_EXPORT bool XServerReachable() noexcept;

}  // namespace quarvel

#endif
