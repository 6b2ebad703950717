#include "touch_json.h"

#include <cmath>
#include <cstdio>

namespace quarvel::cli {
namespace {

void AppendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.4f", value);
    out += text;
}

}  // namespace

std::string ContactsJson(long long frame, const std::vector<Contact>& contacts) {
    std::string out = "{\"frame\": " + std::to_string(frame) + ", \"contacts\": [";
    for (std::size_t i = 0; i < contacts.size(); ++i) {
        const Contact& c = contacts[i];
        out += i == 0 ? "{\"id\": " : ", {\"id\": ";
        out += std::to_string(c.id);
        out += ", \"x\": ";
        AppendNumber(out, c.display.x);
        out += ", \"y\": ";
        AppendNumber(out, c.display.y);
        out += ", \"cx\": ";
        AppendNumber(out, c.camera.x);
        out += ", \"cy\": ";
        AppendNumber(out, c.camera.y);
        out += ", \"area\": " + std::to_string(std::llround(c.area));
        out += ", \"state\": \"";
        out += ContactStateName(c.state);
        out += "\"}";
    }
    out += "]}";
    return out;
}

}  // namespace quarvel::cli
