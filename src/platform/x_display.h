#ifndef QUARVEL_SRC_PLATFORM_X_DISPLAY_H
#define QUARVEL_SRC_PLATFORM_X_DISPLAY_H

#include <vector>

#include <quarvel/display.h>

namespace quarvel::detail {

// The X server named by DISPLAY, asked over XCB. XCB reports a broken
// connection as an error state instead of exiting, installs no global
// handler, and every call here runs with SIGPIPE blocked in the calling
// thread (SigpipeGuard): a server that dies mid-query costs the host
// nothing.
enum class XQueryStatus {
    Answered,     // the server answered
    NotNamed,     // DISPLAY unset or empty
    NoServer,     // the connection failed, and something may still listen (a server resetting, TCP)
    Gone,         // the connection failed and nothing listens on the display's socket
    Broken,       // the connection broke mid-query (a server going away or resetting)
};

struct XDisplayAnswer {
    XQueryStatus status = XQueryStatus::NoServer;
    // Answered: the size a load uses: the RandR 1.3+ primary output's CRTC
    // size, else the screen's size.
    DisplayInfo display;
    // Answered: every RandR output that drives a CRTC, in the server's order.
    std::vector<DisplayInfo> outputs;
};

// One attempt; `listOutputs` also gathers every output.
XDisplayAnswer AskXServer(bool listOutputs) noexcept;

// True when an X server accepts a connection now.
bool XServerAccepts() noexcept;

}  // namespace quarvel::detail

#endif
