#include "tuio_receiver.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include <lo/lo.h>

#include "tuio_sender.h"

namespace quarvel::cli {
namespace {

std::uint32_t BigEndian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// liblo's arguments lie where the message put them, 4-byte aligned: read
// through a copy, never through its 8-byte-aligned union.
std::int32_t Int(const lo_arg* a) {
    std::int32_t v = 0;
    std::memcpy(&v, static_cast<const void*>(a), sizeof v);
    return v;
}
float Float(const lo_arg* a) {
    float v = 0.0f;
    std::memcpy(&v, static_cast<const void*>(a), sizeof v);
    return v;
}
const char* Text(const lo_arg* a) { return reinterpret_cast<const char*>(a); }

struct MessageFree {
    void operator()(lo_message m) const { lo_message_free(m); }
};

// One /tuio/2Dcur message into `out`; false when it is not one we read.
bool TakeMessage(std::uint8_t* data, std::size_t size, TuioBundle& out) {
    if (size < 12 || std::strncmp(reinterpret_cast<const char*>(data), "/tuio/2Dcur", size) != 0) {
        return false;
    }
    int result = 0;
    const std::unique_ptr<std::remove_pointer_t<lo_message>, MessageFree> m(lo_message_deserialise(data, size, &result));
    if (!m || result != 0) {
        return false;
    }
    const std::string types = lo_message_get_types(m.get());
    lo_arg** argv = lo_message_get_argv(m.get());
    if (types.empty() || types[0] != 's') {
        return false;
    }
    const std::string command = Text(argv[0]);
    if (command == "source" && types == "ss") {
        out.source = Text(argv[1]);
    } else if (command == "alive" && types.find_first_not_of('i', 1) == std::string::npos) {
        out.hasAlive = true;
        for (std::size_t i = 1; i < types.size(); ++i) {
            out.alive.push_back(Int(argv[i]));
        }
    } else if (command == "set" && types == "sifffff") {
        const double x = Float(argv[2]);
        const double y = Float(argv[3]);
        if (!std::isfinite(x) || !std::isfinite(y)) {
            return false;
        }
        out.cursors[Int(argv[1])] = {x, y};
    } else if (command == "fseq" && types == "si") {
        out.fseq = Int(argv[1]);
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ParseTuioBundle(const std::uint8_t* data, std::size_t size, TuioBundle& out) {
    out = TuioBundle();
    if (size < 16 || std::memcmp(data, "#bundle\0", 8) != 0 || size % 4 != 0) {
        return false;
    }
    lo_timetag tag;
    tag.sec = BigEndian(data + 8);
    tag.frac = BigEndian(data + 12);
    out.time = tag.sec == 0 && tag.frac == 1 ? std::numeric_limits<double>::quiet_NaN() : UnixSeconds(tag);
    // liblo decodes in place: a copy of ours.
    std::vector<std::uint8_t> copy(data, data + size);
    std::size_t at = 16;
    while (at < size) {
        if (size - at < 4) {
            return false;
        }
        const std::uint32_t length = BigEndian(copy.data() + at);
        at += 4;
        if (length == 0 || length % 4 != 0 || length > size - at || !TakeMessage(copy.data() + at, length, out)) {
            return false;
        }
        at += length;
    }
    return out.hasAlive && out.fseq >= 0;
}

}  // namespace quarvel::cli
