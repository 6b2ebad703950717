#include "platform/x_display.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include "platform/sigpipe_guard.h"
#include "platform/x_socket.h"

namespace quarvel::detail {
namespace {

// xcb_connect reads the X authority file through libXau, whose file-name
// lookup writes a static buffer: two connects at once race. The library's
// own queries take turns.
std::mutex g_connectMutex;

struct FreeReply {
    void operator()(void* reply) const noexcept { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

class XcbConnection {
public:
    XcbConnection() noexcept : connection_(xcb_connect(nullptr, &screen_)) {}
    ~XcbConnection() {
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
    }
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const noexcept { return connection_; }
    int screen() const noexcept { return screen_; }
    bool broken() const noexcept { return connection_ == nullptr || xcb_connection_has_error(connection_) != 0; }

private:
    int screen_ = 0;
    xcb_connection_t* connection_;
};

const xcb_screen_t* ScreenNumber(xcb_connection_t* c, int number) noexcept {
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
        if (i == number) {
            return it.data;
        }
    }
    return nullptr;
}

std::string OutputName(const xcb_randr_get_output_info_reply_t* info) {
    const auto* bytes = reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info));
    const int length = xcb_randr_get_output_info_name_length(info);
    return bytes != nullptr && length > 0 ? std::string(bytes, static_cast<std::size_t>(length)) : std::string();
}

// The output's CRTC size and name, when it drives one with a usable size.
bool OutputSize(xcb_connection_t* c, xcb_randr_output_t output, xcb_timestamp_t timestamp, DisplayInfo& info) {
    Reply<xcb_randr_get_output_info_reply_t> out(
        xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, output, timestamp), nullptr));
    if (!out || out->crtc == XCB_NONE) {
        return false;
    }
    Reply<xcb_randr_get_crtc_info_reply_t> crtc(
        xcb_randr_get_crtc_info_reply(c, xcb_randr_get_crtc_info(c, out->crtc, timestamp), nullptr));
    if (!crtc || crtc->width == 0 || crtc->height == 0) {
        return false;
    }
    info.width = crtc->width;
    info.height = crtc->height;
    info.x = crtc->x;
    info.y = crtc->y;
    info.source = DisplaySource::RandrOutput;
    info.name = OutputName(out.get());
    return true;
}

// Primary outputs and the cheap resource query arrived with RandR 1.3.
bool HasRandr13(xcb_connection_t* c) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (ext == nullptr || ext->present == 0) {
        return false;
    }
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 3), nullptr));
    return version && (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 3));
}

void Ask(const XcbConnection& connection, bool listOutputs, XDisplayAnswer& answer) {
    xcb_connection_t* c = connection.get();
    const xcb_screen_t* screen = ScreenNumber(c, connection.screen());
    if (screen == nullptr) {
        return;
    }
    answer.display = DisplayInfo{screen->width_in_pixels, screen->height_in_pixels, DisplaySource::XScreen, {}, true};
    if (!HasRandr13(c)) {
        return;
    }
    Reply<xcb_randr_get_output_primary_reply_t> primary(
        xcb_randr_get_output_primary_reply(c, xcb_randr_get_output_primary(c, screen->root), nullptr));
    Reply<xcb_randr_get_screen_resources_current_reply_t> resources(xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, screen->root), nullptr));
    if (!resources) {
        return;
    }
    const xcb_timestamp_t timestamp = resources->config_timestamp;
    const xcb_randr_output_t primaryOutput = primary ? primary->output : xcb_randr_output_t{XCB_NONE};
    DisplayInfo info;
    if (primaryOutput != XCB_NONE && OutputSize(c, primaryOutput, timestamp, info)) {
        info.used = true;
        answer.display = info;
    }
    if (!listOutputs) {
        return;
    }
    const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int i = 0; i < count; ++i) {
        DisplayInfo listed;
        if (OutputSize(c, outputs[i], timestamp, listed)) {
            listed.used = answer.display.source == DisplaySource::RandrOutput && outputs[i] == primaryOutput;
            answer.outputs.push_back(std::move(listed));
        }
    }
}

}  // namespace

XDisplayAnswer AskXServer(bool listOutputs) noexcept {
    XDisplayAnswer answer;
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        answer.status = XQueryStatus::NotNamed;
        return answer;
    }
    try {
        const std::lock_guard<std::mutex> turn(g_connectMutex);
        const SigpipeGuard guard;
        const XcbConnection connection;
        if (connection.broken()) {
            // Refused, or accepted and dropped: a server that resets drops
            // its new clients meanwhile but keeps listening.
            const std::string socket = XSocketPath(name);
            answer.status = !socket.empty() && !SomeoneListensOn(socket) ? XQueryStatus::Gone : XQueryStatus::NoServer;
            return answer;
        }
        Ask(connection, listOutputs, answer);
        // A reply missing because the connection broke is not an answer.
        answer.status = connection.broken() || answer.display.width <= 0 || answer.display.height <= 0
                            ? XQueryStatus::Broken
                            : XQueryStatus::Answered;
    } catch (...) {
        answer = XDisplayAnswer{};
        answer.status = XQueryStatus::Broken;
    }
    if (answer.status != XQueryStatus::Answered) {
        answer.outputs.clear();
    }
    return answer;
}

bool XServerAccepts() noexcept {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        return false;
    }
    try {
        const std::lock_guard<std::mutex> turn(g_connectMutex);
        const SigpipeGuard guard;
        const XcbConnection connection;
        return !connection.broken();
    } catch (...) {
        return false;  // the mutex could not be taken
    }
}

}  // namespace quarvel::detail
