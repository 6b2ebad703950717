#include "tuio_sender.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cmath>

#include <lo/lo.h>

namespace quarvel::cli {
namespace {

// "HOST:PORT" (the host may be a bracketed IPv6 address).
bool SplitTarget(const std::string& target, std::string& host, std::string& port) {
    const std::size_t colon = target.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= target.size()) {
        return false;
    }
    host = target.substr(0, colon);
    port = target.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int number = std::stoi(port);
    return number > 0 && number < 65536;
}

}  // namespace

std::unique_ptr<TuioSender> TuioSender::Open(const std::string& target, cv::Size display, std::string& error) {
    std::string host, port;
    if (!SplitTarget(target, host, port)) {
        error = "--tuio needs HOST:PORT (a port from 1 to 65535), not '" + target + "'";
        return nullptr;
    }
    // liblo resolves the host only when it first sends: resolve it now so
    // that a wrong name is an error before the camera starts.
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        error = "--tuio: cannot resolve '" + host + "': " + gai_strerror(resolved);
        return nullptr;
    }
    freeaddrinfo(found);
    lo_address address = lo_address_new(host.c_str(), port.c_str());
    if (address == nullptr) {
        error = "--tuio: cannot send to '" + target + "'";
        return nullptr;
    }
    return std::unique_ptr<TuioSender>(new TuioSender(address, display));
}

TuioSender::TuioSender(void* address, cv::Size display) : address_(address), display_(display) {}

TuioSender::~TuioSender() { lo_address_free(static_cast<lo_address>(address_)); }

std::string TuioSender::error() const {
    const char* text = lo_address_errstr(static_cast<lo_address>(address_));
    return text != nullptr ? text : "unknown error";
}

bool TuioSender::Send(const std::vector<Contact>& contacts, double seconds) {
    const double width = display_.width > 0 ? display_.width : 1.0;
    const double height = display_.height > 0 ? display_.height : 1.0;
    lo_timetag immediately;  // LO_TT_IMMEDIATE, which is a C compound literal
    immediately.sec = 0;
    immediately.frac = 1;
    lo_bundle bundle = lo_bundle_new(immediately);
    lo_message source = lo_message_new();
    lo_message_add_string(source, "source");
    lo_message_add_string(source, "quarvel");
    lo_bundle_add_message(bundle, "/tuio/2Dcur", source);

    lo_message alive = lo_message_new();
    lo_message_add_string(alive, "alive");
    std::map<int, Motion> now;
    std::vector<lo_message> sets;
    for (const Contact& c : contacts) {
        if (c.state == ContactState::Up || !std::isfinite(c.display.x) || !std::isfinite(c.display.y)) {
            continue;  // lifted, or where the calibration gives no display position
        }
        lo_message_add_int32(alive, c.id);
        Motion m;
        m.x = c.display.x / width;
        m.y = c.display.y / height;
        m.seconds = seconds;
        double accel = 0.0;
        const auto before = motion_.find(c.id);
        if (before != motion_.end() && seconds > before->second.seconds) {
            const double dt = seconds - before->second.seconds;
            m.vx = (m.x - before->second.x) / dt;
            m.vy = (m.y - before->second.y) / dt;
            accel = (std::hypot(m.vx, m.vy) - std::hypot(before->second.vx, before->second.vy)) / dt;
        }
        now[c.id] = m;
        lo_message set = lo_message_new();
        lo_message_add_string(set, "set");
        lo_message_add_int32(set, c.id);
        lo_message_add_float(set, static_cast<float>(m.x));
        lo_message_add_float(set, static_cast<float>(m.y));
        lo_message_add_float(set, static_cast<float>(m.vx));
        lo_message_add_float(set, static_cast<float>(m.vy));
        lo_message_add_float(set, static_cast<float>(accel));
        sets.push_back(set);
    }
    lo_bundle_add_message(bundle, "/tuio/2Dcur", alive);
    for (lo_message set : sets) {
        lo_bundle_add_message(bundle, "/tuio/2Dcur", set);
    }
    lo_message fseq = lo_message_new();
    lo_message_add_string(fseq, "fseq");
    lo_message_add_int32(fseq, ++fseq_);
    lo_bundle_add_message(bundle, "/tuio/2Dcur", fseq);

    const int sent = lo_send_bundle(static_cast<lo_address>(address_), bundle);
    lo_bundle_free_recursive(bundle);
    motion_ = std::move(now);
    return sent >= 0;
}

}  // namespace quarvel::cli
