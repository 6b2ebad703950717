#include "platform/wayland_display.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <wayland-client.h>

#include "platform/sigpipe_guard.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace quarvel::detail {
namespace {

constexpr std::uint32_t kOutputVersion = 4;         // wl_output.name arrived in 4
constexpr std::uint32_t kXdgOutputManagerVersion = 3;
constexpr auto kTimeout = std::chrono::seconds(1);

struct Output {
    wl_output* output = nullptr;
    std::uint32_t version = 0;
    zxdg_output_v1* xdg = nullptr;
    int x = 0;
    int y = 0;
    int modeWidth = 0;
    int modeHeight = 0;
    int scale = 1;
    bool xdgPosition = false;
    int xdgX = 0;
    int xdgY = 0;
    int logicalWidth = 0;
    int logicalHeight = 0;
    std::string name;
    std::string xdgName;
};

struct State {
    State() = default;
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    wl_registry* registry = nullptr;
    zxdg_output_manager_v1* manager = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;
    bool failed = false;
};

// -- wl_output ---------------------------------------------------------------
void OnGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*, const char*,
                int32_t) {
    auto* o = static_cast<Output*>(data);
    o->x = x;
    o->y = y;
}
void OnMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        auto* o = static_cast<Output*>(data);
        o->modeWidth = width;
        o->modeHeight = height;
    }
}
void OnOutputDone(void*, wl_output*) {}
void OnScale(void* data, wl_output*, int32_t factor) { static_cast<Output*>(data)->scale = factor; }
void OnName(void* data, wl_output*, const char* name) {
    try {
        static_cast<Output*>(data)->name = name != nullptr ? name : "";
    } catch (...) {
    }
}
void OnDescription(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnOutputDone, OnScale, OnName, OnDescription};

// -- zxdg_output_v1 ----------------------------------------------------------
void OnLogicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto* o = static_cast<Output*>(data);
    o->xdgPosition = true;
    o->xdgX = x;
    o->xdgY = y;
}
void OnLogicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto* o = static_cast<Output*>(data);
    o->logicalWidth = width;
    o->logicalHeight = height;
}
void OnXdgDone(void*, zxdg_output_v1*) {}
void OnXdgName(void* data, zxdg_output_v1*, const char* name) {
    try {
        static_cast<Output*>(data)->xdgName = name != nullptr ? name : "";
    } catch (...) {
    }
}
void OnXdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener kXdgOutputListener = {OnLogicalPosition, OnLogicalSize, OnXdgDone, OnXdgName,
                                                    OnXdgDescription};

// -- wl_registry -------------------------------------------------------------
void OnGlobal(void* data, wl_registry* registry, uint32_t id, const char* interface, uint32_t version) {
    auto* state = static_cast<State*>(data);
    if (interface == nullptr) {
        return;
    }
    try {
        if (std::strcmp(interface, wl_output_interface.name) == 0) {
            auto o = std::make_unique<Output>();
            o->version = version < kOutputVersion ? version : kOutputVersion;
            o->output = static_cast<wl_output*>(wl_registry_bind(registry, id, &wl_output_interface, o->version));
            if (o->output == nullptr) {
                return;
            }
            wl_output_add_listener(o->output, &kOutputListener, o.get());
            state->outputs.push_back(std::move(o));
        } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && state->manager == nullptr) {
            const std::uint32_t v = version < kXdgOutputManagerVersion ? version : kXdgOutputManagerVersion;
            state->manager = static_cast<zxdg_output_manager_v1*>(
                wl_registry_bind(registry, id, &zxdg_output_manager_v1_interface, v));
        }
    } catch (...) {
        state->failed = true;
    }
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

// -- a round trip that gives up at a deadline --------------------------------
void OnSyncDone(void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }
const wl_callback_listener kSyncListener = {OnSyncDone};

bool Roundtrip(wl_display* display, std::chrono::steady_clock::time_point deadline) {
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    if (callback == nullptr) {
        return false;
    }
    wl_callback_add_listener(callback, &kSyncListener, &done);
    bool ok = true;
    while (!done && ok) {
        if (wl_display_prepare_read(display) != 0) {
            ok = wl_display_dispatch_pending(display) >= 0;
            continue;
        }
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            ok = false;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(display);
            ok = false;
            break;
        }
        ok = wl_display_read_events(display) >= 0 && wl_display_dispatch_pending(display) >= 0;
    }
    wl_callback_destroy(callback);
    return ok && done;
}

// Connects to the compositor's socket without wl_display_connect, which
// would take and unset WAYLAND_SOCKET in the host's environment.
wl_display* Connect() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    std::string path;
    if (name[0] == '/') {
        path = name;
    } else {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime == nullptr || *runtime == '\0') {
            return nullptr;
        }
        path = std::string(runtime) + "/" + name;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return nullptr;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return nullptr;
    }
    return wl_display_connect_to_fd(fd);  // owns the descriptor from here on
}

State::~State() {
    for (const auto& o : outputs) {
        if (o->xdg != nullptr) {
            zxdg_output_v1_destroy(o->xdg);
        }
        if (o->version >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
            wl_output_release(o->output);
        } else {
            wl_output_destroy(o->output);
        }
    }
    if (manager != nullptr) {
        zxdg_output_manager_v1_destroy(manager);
    }
    if (registry != nullptr) {
        wl_registry_destroy(registry);
    }
}

struct DisplayCloser {
    void operator()(wl_display* d) const noexcept { wl_display_disconnect(d); }
};

std::vector<DisplayInfo> Describe(const State& state) {
    std::vector<DisplayInfo> list;
    int chosen = -1;
    for (const auto& o : state.outputs) {
        DisplayInfo info;
        info.source = DisplaySource::WaylandOutput;
        info.name = !o->name.empty() ? o->name : o->xdgName;
        if (o->logicalWidth > 0 && o->logicalHeight > 0) {
            info.width = o->logicalWidth;
            info.height = o->logicalHeight;
        } else {
            const int s = o->scale > 0 ? o->scale : 1;
            info.width = o->modeWidth / s;
            info.height = o->modeHeight / s;
        }
        if (info.width <= 0 || info.height <= 0) {
            continue;
        }
        const int x = o->xdgPosition ? o->xdgX : o->x;
        const int y = o->xdgPosition ? o->xdgY : o->y;
        info.x = x;
        info.y = y;
        if (chosen < 0 && x == 0 && y == 0) {
            chosen = static_cast<int>(list.size());
        }
        list.push_back(std::move(info));
    }
    if (!list.empty()) {
        list[static_cast<std::size_t>(chosen < 0 ? 0 : chosen)].used = true;
    }
    return list;
}

}  // namespace

std::vector<DisplayInfo> AskWaylandCompositor() noexcept {
    try {
        const SigpipeGuard guard;
        std::unique_ptr<wl_display, DisplayCloser> display(Connect());
        if (!display) {
            return {};
        }
        const auto deadline = std::chrono::steady_clock::now() + kTimeout;
        State state;
        state.registry = wl_display_get_registry(display.get());
        std::vector<DisplayInfo> result;
        if (state.registry != nullptr) {
            wl_registry_add_listener(state.registry, &kRegistryListener, &state);
            bool ok = Roundtrip(display.get(), deadline) && !state.failed;
            if (ok && state.manager != nullptr) {
                for (const auto& o : state.outputs) {
                    o->xdg = zxdg_output_manager_v1_get_xdg_output(state.manager, o->output);
                    if (o->xdg != nullptr) {
                        zxdg_output_v1_add_listener(o->xdg, &kXdgOutputListener, o.get());
                    }
                }
            }
            // The outputs' own events (and the xdg ones) arrive in the next trip.
            ok = ok && Roundtrip(display.get(), deadline) && !state.failed;
            if (ok) {
                result = Describe(state);
            }
        }
        return result;
    } catch (...) {
        return {};
    }
}

}  // namespace quarvel::detail
