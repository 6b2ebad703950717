#include "platform/x_connection.h"

namespace quarvel::detail {
namespace {

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

XConnection::XConnection() noexcept
    : previousHandler_(XSetErrorHandler(&IgnoreXError)), display_(XOpenDisplay(nullptr)) {}

XConnection::~XConnection() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
    XSetErrorHandler(previousHandler_);
}

bool DisplayReachable() noexcept { return static_cast<bool>(XConnection()); }

}  // namespace quarvel::detail
