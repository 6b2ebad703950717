#include "tuio_sender.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>

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

// TUIO session ids are 32-bit: a contact id beyond them wraps around,
// which no receiver can tell from a new session.
int SessionId(long long id) { return static_cast<int>(static_cast<std::uint32_t>(id) & 0x7fffffffu); }

}  // namespace

double UnixSeconds(const lo_timetag& tag) {
    return static_cast<double>(tag.sec) - kNtpToUnix + static_cast<double>(tag.frac) / 4294967296.0;
}

lo_timetag Timetag(double unixSeconds) {
    const double ntp = unixSeconds + kNtpToUnix;
    lo_timetag tag;
    tag.sec = static_cast<std::uint32_t>(std::floor(ntp));
    tag.frac = static_cast<std::uint32_t>(std::min((ntp - std::floor(ntp)) * 4294967296.0, 4294967295.0));
    return tag;
}

namespace {

}  // namespace

std::unique_ptr<TuioSender> TuioSender::Open(const std::string& target, cv::Size display, std::string& error) {
    std::string host, port;
    if (!SplitTarget(target, host, port)) {
        error = "--tuio needs HOST:PORT (a port from 1 to 65535), not '" + target + "'";
        return nullptr;
    }
    // Resolved now, so that a wrong name is an error before the camera
    // starts; the first address a socket can be made for is the one used.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        error = "--tuio: cannot resolve '" + host + "': " + gai_strerror(resolved);
        return nullptr;
    }
    int fd = -1;
    std::vector<unsigned char> address;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd >= 0) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(a->ai_addr);
            address.assign(bytes, bytes + a->ai_addrlen);
        }
    }
    const int lastError = errno;
    freeaddrinfo(found);
    if (fd < 0) {
        error = "--tuio: cannot make a socket for '" + target + "': " + std::strerror(lastError);
        return nullptr;
    }
    return std::unique_ptr<TuioSender>(new TuioSender(fd, std::move(address), display));
}

TuioSender::TuioSender(int socket, std::vector<unsigned char> address, cv::Size display)
    : socket_(socket), address_(std::move(address)), display_(display) {}

TuioSender::~TuioSender() { close(socket_); }

void TuioSender::SetMember(const std::string& name, double epoch) {
    source_ = name;
    SetEpoch(epoch);
}

void TuioSender::SetEpoch(double epoch) {
    epoch_ = epoch;
    timed_ = true;
}

bool TuioSender::Send(const std::vector<Contact>& contacts, double seconds) {
    const double width = display_.width > 0 ? display_.width : 1.0;
    const double height = display_.height > 0 ? display_.height : 1.0;
    lo_timetag tag;  // LO_TT_IMMEDIATE, which is a C compound literal
    tag.sec = 0;
    tag.frac = 1;
    if (timed_) {
        lo_timetag now;
        lo_timetag_now(&now);
        const double taken = std::min(epoch_ + seconds, UnixSeconds(now));
        tag = Timetag(taken);
    }
    lo_bundle bundle = lo_bundle_new(tag);
    lo_message source = lo_message_new();
    lo_message_add_string(source, "source");
    lo_message_add_string(source, source_.c_str());
    lo_bundle_add_message(bundle, "/tuio/2Dcur", source);

    lo_message alive = lo_message_new();
    lo_message_add_string(alive, "alive");
    std::map<long long, Motion> now;
    std::vector<lo_message> sets;
    for (const Contact& c : contacts) {
        if (c.state == ContactState::Up || !std::isfinite(c.x) || !std::isfinite(c.y)) {
            continue;  // lifted, or where the calibration gives no display position
        }
        lo_message_add_int32(alive, SessionId(c.id));
        Motion m;
        m.x = c.x / width;
        m.y = c.y / height;
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
        lo_message_add_int32(set, SessionId(c.id));
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

    bool sent = false;
    std::size_t size = lo_bundle_length(bundle);
    packet_.resize(size);
    if (size > 0 && lo_bundle_serialise(bundle, packet_.data(), &size) != nullptr) {
        const ssize_t n = sendto(socket_, packet_.data(), size, MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(address_.data()),
                                 static_cast<socklen_t>(address_.size()));
        sent = n == static_cast<ssize_t>(size);
        error_ = sent ? std::string() : n < 0 ? std::strerror(errno) : "the bundle was cut short";
    } else {
        error_ = "the bundle could not be encoded";
    }
    lo_bundle_free_recursive(bundle);
    motion_ = std::move(now);
    return sent;
}

}  // namespace quarvel::cli
