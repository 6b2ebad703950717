#ifndef QUARVEL_SRC_PLATFORM_X_CONNECTION_H
#define QUARVEL_SRC_PLATFORM_X_CONNECTION_H

#include <X11/Xlib.h>

namespace quarvel::detail {

// A connection to the X server named by DISPLAY, closed when the object
// goes. While it lives, X protocol errors are ignored instead of reaching
// Xlib's default handler, which would terminate the host; the host's own
// handler is restored afterwards.
class XConnection {
public:
    XConnection() noexcept;
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    Display* get() const noexcept { return display_; }
    explicit operator bool() const noexcept { return display_ != nullptr; }

private:
    XErrorHandler previousHandler_;
    Display* display_;
};

// True when an X server can be reached (DISPLAY set and accepting us).
bool DisplayReachable() noexcept;

}  // namespace quarvel::detail

#endif
