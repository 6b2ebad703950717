#include "platform/display_size.h"

#include "platform/x_connection.h"

#include <atomic>
#include <memory>

#include <X11/extensions/Xrandr.h>

namespace quarvel::detail {
namespace {

std::atomic<DisplaySizeSource> g_source{nullptr};

struct ResourcesFree {
    void operator()(XRRScreenResources* r) const noexcept { XRRFreeScreenResources(r); }
};
struct OutputInfoFree {
    void operator()(XRROutputInfo* o) const noexcept { XRRFreeOutputInfo(o); }
};
struct CrtcInfoFree {
    void operator()(XRRCrtcInfo* c) const noexcept { XRRFreeCrtcInfo(c); }
};

bool IsUsable(int width, int height) { return width > 0 && height > 0; }

// The mode size of the RandR primary output, if the server names one and it
// drives a CRTC.
bool PrimaryOutputSize(Display* display, Window root, DisplaySize& size) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // Primary outputs and the cheap resource query arrived with RandR 1.3.
    if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor) ||
        (major < 1 || (major == 1 && minor < 3))) {
        return false;
    }
    const RROutput primary = XRRGetOutputPrimary(display, root);
    if (primary == None) {
        return false;
    }
    std::unique_ptr<XRRScreenResources, ResourcesFree> resources(XRRGetScreenResourcesCurrent(display, root));
    if (!resources) {
        return false;
    }
    std::unique_ptr<XRROutputInfo, OutputInfoFree> output(XRRGetOutputInfo(display, resources.get(), primary));
    if (!output || output->crtc == None) {
        return false;
    }
    std::unique_ptr<XRRCrtcInfo, CrtcInfoFree> crtc(XRRGetCrtcInfo(display, resources.get(), output->crtc));
    if (!crtc || !IsUsable(static_cast<int>(crtc->width), static_cast<int>(crtc->height))) {
        return false;
    }
    size = DisplaySize{static_cast<int>(crtc->width), static_cast<int>(crtc->height)};
    return true;
}

}  // namespace

DisplaySize QueryXDisplaySize() noexcept {
    const XConnection display;
    if (!display) {
        return kFallbackDisplaySize;
    }
    const int screen = DefaultScreen(display.get());
    DisplaySize size{};
    if (PrimaryOutputSize(display.get(), RootWindow(display.get(), screen), size)) {
        return size;
    }
    size = DisplaySize{DisplayWidth(display.get(), screen), DisplayHeight(display.get(), screen)};
    return IsUsable(size.width, size.height) ? size : kFallbackDisplaySize;
}

DisplaySize QueryDisplaySize() noexcept {
    if (const DisplaySizeSource source = g_source.load()) {
        return source();
    }
    return QueryXDisplaySize();
}

DisplaySizeSource SetDisplaySizeSource(DisplaySizeSource source) noexcept { return g_source.exchange(source); }

}  // namespace quarvel::detail
