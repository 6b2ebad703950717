#include "service_notify.h"

#include <cstdlib>

#include <systemd/sd-daemon.h>

namespace quarvel::cli {

ServiceNotifier::ServiceNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    active_ = socket != nullptr && *socket != '\0';
    std::uint64_t usec = 0;
    if (active_ && sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdog_ = true;
        interval_ = std::chrono::microseconds(usec / 2);
    }
}

ServiceNotifier::~ServiceNotifier() {
    if (active_ && ready_) {
        sd_notify(0, "STOPPING=1");
    }
}

void ServiceNotifier::Send(const std::string& status, Clock::time_point now) {
    std::string message = ready_ ? "" : "READY=1\n";
    if (watchdog_) {
        message += "WATCHDOG=1\n";
    }
    message += "STATUS=" + status;
    sd_notify(0, message.c_str());
    ready_ = true;
    last_ = now;
}

void ServiceNotifier::Reloading() {
    if (active_) {
        sd_notify(0, "RELOADING=1");
    }
}

void ServiceNotifier::Reloaded() {
    if (active_) {
        sd_notify(0, "READY=1");
    }
}

}  // namespace quarvel::cli
