#ifndef QUARVEL_SRC_PLATFORM_WAYLAND_DISPLAY_H
#define QUARVEL_SRC_PLATFORM_WAYLAND_DISPLAY_H

#include <vector>

#include <quarvel/display.h>

namespace quarvel::detail {

// The outputs of the Wayland compositor named by WAYLAND_DISPLAY (under
// XDG_RUNTIME_DIR unless it is an absolute path), each with its logical
// size: the xdg-output logical size when the compositor offers
// zxdg_output_manager_v1, else the current mode divided by the output's
// scale, and its logical position. `used` marks the output a load takes: the one at logical position
// (0, 0), else the first. Empty when no compositor answers within a second.
// The environment is only read (WAYLAND_SOCKET is left alone), every
// listener slot is filled and the connection is the query's own.
std::vector<DisplayInfo> AskWaylandCompositor() noexcept;

}  // namespace quarvel::detail

#endif
