#ifndef QUARVEL_TOOLS_SERVICE_NOTIFY_H
#define QUARVEL_TOOLS_SERVICE_NOTIFY_H
// What `quarvel track` tells a service manager (systemd's notify
// protocol, through libsystemd) when it runs as a Type=notify service:
// READY=1 once the first frame is through, WATCHDOG=1 at half the
// watchdog's interval while frames flow (never from a timer: when frames
// stop, so do the pings, and the manager restarts the service), STATUS=
// with each ping (every 5 s without a watchdog), STOPPING=1 at the end. Nothing at all when no manager
// asked (NOTIFY_SOCKET unset).

#include <chrono>
#include <string>

namespace quarvel::cli {

class ServiceNotifier {
public:
    using Clock = std::chrono::steady_clock;

    ServiceNotifier();
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // A frame went through every output; `status` is asked for only when a
    // message is due.
    template <typename StatusLine>
    void FrameDone(const StatusLine& status) {
        if (!active_) {
            return;
        }
        const Clock::time_point now = Clock::now();
        if (ready_ && now - last_ < interval_) {
            return;
        }
        Send(status(), now);
    }
    // Reloading (SIGHUP) and done reloading.
    void Reloading();
    void Reloaded();
    bool active() const noexcept { return active_; }

private:
    void Send(const std::string& status, Clock::time_point now);

    bool active_ = false;
    bool ready_ = false;
    bool watchdog_ = false;
    std::chrono::microseconds interval_{5000000};  // half the watchdog's, else a status every 5 s
    Clock::time_point last_{};
};

}  // namespace quarvel::cli

#endif
