// The display a load fits to, and the displays a host can choose from:
// the X server, else the Wayland compositor, else the fallback.

#include <quarvel/display.h>

#include <chrono>
#include <thread>

#include "platform/wayland_display.h"
#include "platform/x_display.h"

namespace quarvel {
namespace {

// How long a load keeps asking an X server that drops the connection (a
// server resetting after its last client left answers again within a few
// milliseconds).
constexpr int kXRetryMilliseconds = 50;

DisplayInfo Fallback() {
    DisplayInfo info;
    info.width = kAssumedDisplayWidth;
    info.height = kAssumedDisplayHeight;
    info.source = DisplaySource::Fallback;
    info.used = true;
    return info;
}

// The X server's answer, asked again while the connection fails or breaks
// with something still listening, up to kXRetryMilliseconds.
detail::XDisplayAnswer AskXPatiently(bool listOutputs) noexcept {
    using detail::XQueryStatus;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kXRetryMilliseconds);
    for (;;) {
        detail::XDisplayAnswer answer = detail::AskXServer(listOutputs);
        if (answer.status == XQueryStatus::Answered || answer.status == XQueryStatus::NotNamed ||
            answer.status == XQueryStatus::Gone || std::chrono::steady_clock::now() >= deadline) {
            return answer;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

DisplayInfo QueryDisplay() noexcept {
    try {
        detail::XDisplayAnswer x = AskXPatiently(false);
        if (x.status == detail::XQueryStatus::Answered) {
            return x.display;
        }
        for (DisplayInfo& output : detail::AskWaylandCompositor()) {
            if (output.used) {
                return output;
            }
        }
        return Fallback();
    } catch (...) {
        return Fallback();
    }
}

std::vector<DisplayInfo> ListDisplays() noexcept {
    try {
        detail::XDisplayAnswer x = AskXPatiently(true);
        if (x.status == detail::XQueryStatus::Answered) {
            if (x.outputs.empty() || x.display.source == DisplaySource::XScreen) {
                // No primary output: the screen is what a load uses.
                x.outputs.insert(x.outputs.begin(), x.display);
            }
            return x.outputs;
        }
        std::vector<DisplayInfo> wayland = detail::AskWaylandCompositor();
        if (!wayland.empty()) {
            return wayland;
        }
        return {Fallback()};
    } catch (...) {
        return {};
    }
}

bool XServerReachable() noexcept { return detail::XServerAccepts(); }

}  // namespace quarvel
