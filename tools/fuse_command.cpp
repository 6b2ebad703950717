// quarvel fuse --listen [HOST:]PORT --member NAME=PARAMS ... --display WxH
// [--json] [--tuio HOST:PORT] [--uinput]: the hub of a wall whose cameras
// run on several machines. Each member (quarvel track ... --tuio HUB:PORT
// --source NAME) sends its contacts as TUIO; the hub fuses them into one
// surface, as one process with every camera would.

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <quarvel/fusion.h>
#include <quarvel/parameter_file.h>

#include "cli_common.h"
#include "pacer.h"
#include "stop_signals.h"
#include "track_setup.h"
#include "tuio_receiver.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel fuse --listen [HOST:]PORT --member NAME=PARAMS ... --display WxH\n"
    "                    [--json] [--tuio HOST:PORT] [--uinput]\n"
    "\n"
    "The hub of a wall whose cameras run on several machines. On each machine a\n"
    "member runs 'quarvel track PARAMS --camera N --tuio HUB:PORT --source NAME':\n"
    "TUIO 1.1 cursors naming their source, each bundle's time tag the frame's\n"
    "time. The hub fuses the members' contacts into one surface, as 'quarvel\n"
    "track' does with several cameras in one process: a finger two members see\n"
    "is one contact, weighted by how fully each camera sees it (the members'\n"
    "calibration files say where each camera's image edges lie), and keeps its\n"
    "id across the seams. A member silent for 0.5 s loses only the fingers no\n"
    "other member sees; a member that comes back (its frame numbers start\n"
    "again) is taken in again. Bundles from unknown sources, malformed ones and\n"
    "stale ones (a frame number gone by, a time tag over 0.5 s old) are dropped\n"
    "and counted, never trusted.\n"
    "\n"
    "  --listen [HOST:]PORT    where to receive (default host 127.0.0.1)\n"
    "  --member NAME=PARAMS    a member and its calibration file (repeated)\n"
    "  --display WxH           the display the members' touches are for\n"
    "  --json, --tuio HOST:PORT, --uinput\n"
    "                          the surface's outputs, as for quarvel track\n"
    "\n"
    "At the end it prints the bundles taken and dropped, and the time the hub\n"
    "took a bundle (median), on standard error.\n"
    "\n"
    "exit status: 0 success (also when stopped by SIGINT or SIGTERM), 2 usage\n"
    "             error, a parameter file that cannot be read, an address\n"
    "             that cannot be listened on, an output that cannot be opened\n";

constexpr double kSilentSeconds = 0.5;
// A frame number this far below the last one is a member that started over.
constexpr int kRestartGap = 30;

struct Member {
    std::string name;
    Model model;
    int camera = 0;         // its index in the fusion
    int fseq = -1;          // the last frame number taken
    double heard = 0.0;     // when it was last heard, Unix seconds
};

struct Counts {
    long long taken = 0, unknown = 0, malformed = 0, stale = 0;
};

// A UDP socket bound to "[HOST:]PORT"; -1 with `error` set.
int Listen(const std::string& where, std::string& error) {
    const std::size_t colon = where.rfind(':');
    std::string host = colon == std::string::npos ? "127.0.0.1" : where.substr(0, colon);
    const std::string port = colon == std::string::npos ? where : where.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = "--listen: cannot use '" + where + "': " + gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    int lastError = 0;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && bind(fd, a->ai_addr, a->ai_addrlen) != 0) {
            lastError = errno;
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        error = "--listen: cannot listen on '" + where + "': " + std::strerror(lastError);
    }
    return fd;
}

class Hub {
public:
    Hub(std::vector<Member> members, cv::Size display, TrackOutputs& out)
        : members_(std::move(members)), display_(display), out_(out) {
        for (Member& m : members_) {
            m.camera = fusion_.AddCamera(m.name, m.model);
        }
    }

    int Run(int fd);

private:
    // A bundle received: into the fusion when it can be trusted. True
    // when it was taken.
    bool Take(const std::uint8_t* data, std::size_t size, double now);
    bool Emit(double now, bool always);

    std::vector<Member> members_;
    cv::Size display_;
    TrackOutputs& out_;
    TouchFusion fusion_;
    Counts counts_;
    std::vector<double> costs_;  // milliseconds a bundle
    std::string error_;
    long long ids_ = 0, highest_ = 0;
    bool anyDown_ = false;
};

bool Hub::Take(const std::uint8_t* data, std::size_t size, double now) {
    TuioBundle bundle;
    if (!ParseTuioBundle(data, size, bundle)) {
        ++counts_.malformed;
        return false;
    }
    const auto member = std::find_if(members_.begin(), members_.end(),
                                     [&bundle](const Member& m) { return m.name == bundle.source; });
    if (member == members_.end()) {
        ++counts_.unknown;
        return false;
    }
    const double t = std::isfinite(bundle.time) ? bundle.time : now;
    const bool silent = now - member->heard > kSilentSeconds;
    if (member->fseq >= 0 && bundle.fseq <= member->fseq) {
        if (bundle.fseq + kRestartGap >= member->fseq && !silent) {
            ++counts_.stale;  // late or repeated
            return false;
        }
        fusion_.Restart(member->camera);  // the member started over
        std::fprintf(stderr, "quarvel: member '%s' started again\n", member->name.c_str());
    }
    if (now - t > kSilentSeconds || t - now > kSilentSeconds) {
        ++counts_.stale;  // a frame from long ago, or a clock far off
        return false;
    }
    TouchFrame frame;
    frame.t = t;
    for (const int id : bundle.alive) {
        const auto at = bundle.cursors.find(id);
        if (at == bundle.cursors.end()) {
            continue;
        }
        Contact c;
        c.id = id;
        c.x = at->second.x * display_.width;
        c.y = at->second.y * display_.height;
        const cv::Point2d camera = member->model.InvertPoint(c.display());
        c.cx = camera.x;
        c.cy = camera.y;
        c.state = ContactState::Move;
        frame.contacts.push_back(c);
    }
    fusion_.Push(member->camera, frame);
    member->fseq = bundle.fseq;
    member->heard = now;
    ++counts_.taken;
    return true;
}

bool Hub::Emit(double now, bool always) {
    const TouchFrame& fused = fusion_.Fuse(now);
    bool changed = always;
    anyDown_ = false;
    for (const Contact& c : fused) {
        changed = changed || c.state != ContactState::Move;
        anyDown_ = anyDown_ || c.down();
        if (c.id > highest_) {
            highest_ = c.id;
            ++ids_;
        }
    }
    return !changed || out_.Emit(fused.frame, fused, error_);
}

int Hub::Run(int fd) {
    const StopSignals stop;
    std::vector<std::uint8_t> buffer(65536);
    int status = kSuccess;
    while (status == kSuccess && StopSignals::Received() == 0) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 50);
        const double now = UnixNow();
        if (ready > 0) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) {
                continue;
            }
            const auto started = std::chrono::steady_clock::now();
            const bool taken = Take(buffer.data(), static_cast<std::size_t>(n), now);
            if (taken && !Emit(now, true)) {
                status = Fail(kUsage, error_);
            }
            costs_.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
        } else if (anyDown_ && !Emit(now, false)) {  // members that fell silent
            status = Fail(kUsage, error_);
        }
    }
    if (!out_.Emit(0, fusion_.LiftAll(), error_, true) && status == kSuccess) {
        status = Fail(kUsage, error_);
    }
    std::sort(costs_.begin(), costs_.end());
    std::fprintf(stderr,
                 "bundles: %lld taken, %lld from unknown sources, %lld malformed, %lld stale; contacts %lld; "
                 "%.3f ms a bundle (median)\n",
                 counts_.taken, counts_.unknown, counts_.malformed, counts_.stale, ids_,
                 costs_.empty() ? 0.0 : costs_[costs_.size() / 2]);
    if (const int signal = StopSignals::Received()) {
        std::fprintf(stderr, "quarvel: stopped by %s; every touch lifted\n", StopSignals::Name(signal));
    }
    return status;
}

// The --member options, each NAME=PARAMS, loaded for the display.
std::optional<std::string> ReadMembers(const Args& args, cv::Size display, std::vector<Member>& members) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        std::string_view value;
        if (args[i] == "--member") {
            value = args[i + 1];
        } else if (args[i].rfind("--member=", 0) == 0) {
            value = args[i].substr(9);
        } else {
            continue;
        }
        const std::size_t equals = value.find('=');
        if (equals == std::string_view::npos || equals == 0 || equals + 1 == value.size()) {
            return "--member needs NAME=PARAMS, not '" + std::string(value) + "'";
        }
        const std::string name(value.substr(0, equals));
        const std::string params(value.substr(equals + 1));
        const ParameterFile file = ReadParameterFile(params);
        if (!file.ok) {
            return "member '" + name + "': '" + params + "' holds no usable calibration" +
                   (file.reason.empty() ? std::string() : ": " + file.reason);
        }
        for (const Member& m : members) {
            if (m.name == name) {
                return "member '" + name + "' is named twice";
            }
        }
        members.push_back({name, Model(file.params, display), 0, -1, 0.0});
    }
    if (!args.empty() && (args.back() == "--member")) {
        return std::string("--member needs NAME=PARAMS");
    }
    return std::nullopt;
}

}  // namespace

int RunFuse(const Args& args) {
    ParsedArgs parsed;
    const std::vector<Option> known = {{"listen", 0, true},  {"member", 0, true},  {"json", 0, false},
                                       {"tuio", 0, true},    {"uinput", 0, false}, kDisplayOption};
    if (const auto error = ParseOptions(args, known, parsed)) {
        return UsageError("fuse ", "fuse: " + *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    const auto size = ParseSize(parsed.Get("display"));
    if (!parsed.positional.empty() || !parsed.Has("listen") || !parsed.Has("member") || !size) {
        return UsageError("fuse ", "fuse: give --listen [HOST:]PORT, --member NAME=PARAMS for each member and "
                                   "--display WxH");
    }
    const cv::Size display(size->first, size->second);
    std::vector<Member> members;
    if (const auto error = ReadMembers(args, display, members)) {
        return UsageError("fuse ", "fuse: " + *error);
    }
    TrackOutputs out;
    if (const int status = OpenOutputs(parsed, members.front().model, out); status != kSuccess) {
        return status;
    }
    std::string error;
    const int fd = Listen(parsed.Get("listen"), error);
    if (fd < 0) {
        return Fail(kUsage, error);
    }
    std::fprintf(stderr, "listening on %s for %zu members\n", parsed.Get("listen").c_str(), members.size());
    const int status = Hub(std::move(members), display, out).Run(fd);
    close(fd);
    return status;
}

}  // namespace quarvel::cli
