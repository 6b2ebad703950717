#include "touch_json.h"

#include <cmath>
#include <cstdio>

namespace quarvel::cli {

void AppendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.4f", value);
    out += text;
}

// A text as a JSON string: quotes, backslashes and control characters escaped.
void AppendString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

namespace {

void AppendStatus(std::string& out, const FrameStatus& status) {
    if (status.ok && !status.repeated && !status.lost) {
        return;
    }
    out += ", \"status\": {\"ok\": ";
    out += status.ok ? "true" : "false";
    out += ", \"reason\": ";
    AppendString(out, status.reason);
    out += ", \"repeated\": ";
    out += status.repeated ? "true" : "false";
    out += ", \"lost\": ";
    out += status.lost ? "true" : "false";
    out += "}";
}

}  // namespace

std::string FrameJson(long long frame, double t, const FrameStatus& status, const std::vector<Contact>& contacts) {
    std::string out = "{\"frame\": " + std::to_string(frame) + ", \"t\": ";
    char time[48];
    std::snprintf(time, sizeof time, "%.6f", std::isfinite(t) ? t : 0.0);
    out += time;
    AppendStatus(out, status);
    out += ", \"contacts\": [";
    for (std::size_t i = 0; i < contacts.size(); ++i) {
        const Contact& c = contacts[i];
        out += i == 0 ? "{\"id\": " : ", {\"id\": ";
        out += std::to_string(c.id);
        out += ", \"x\": ";
        AppendNumber(out, c.x);
        out += ", \"y\": ";
        AppendNumber(out, c.y);
        out += ", \"cx\": ";
        AppendNumber(out, c.cx);
        out += ", \"cy\": ";
        AppendNumber(out, c.cy);
        out += ", \"area\": " + std::to_string(std::llround(c.area));
        out += ", \"state\": \"";
        out += ContactStateName(c.state);
        out += "\"}";
    }
    out += "]}";
    return out;
}

}  // namespace quarvel::cli
