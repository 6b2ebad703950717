#include "blob_options.h"

#include <cstdio>

namespace quarvel::cli {

const std::vector<Option>& BlobOptionList() {
    static const std::vector<Option> options = {
        {"threshold", 0, true},
        {"min-area", 0, true},
        {"max-area", 0, true},
        {"finger-diameter", 0, true, "finger"}};
    return options;
}

std::vector<std::string_view> BlobOptionNames() {
    std::vector<std::string_view> names;
    for (const Option& o : BlobOptionList()) {
        names.push_back(o.name);
    }
    return names;
}

namespace {

constexpr const char* kBlobOptionsHelp =
    "  --threshold LEVELS  grey levels above the background a touch reaches\n"
    "                      (default: seven times the sensor noise measured while\n"
    "                      the background is learned, at least 12)\n"
    "  --finger-diameter PIXELS\n"
    "                      a finger's diameter in the camera image (default: the\n"
    "                      frame's longer side / 64, 10 on a 640 x 480 camera)\n"
    "  --min-area PIXELS   smaller blobs are noise (default: a fifth of a finger)\n"
    "  --max-area PIXELS   larger blobs are not fingers: a palm, a lamp (default:\n"
    "                      five fingers)\n";

}  // namespace

void PrintHelpWithBlobOptions(const char* help) {
    std::string text = help;
    const std::string marker = "@BLOB_OPTIONS@";
    const std::size_t at = text.find(marker);
    if (at != std::string::npos) {
        text.replace(at, marker.size(), kBlobOptionsHelp);
    }
    std::fputs(text.c_str(), stdout);
}

std::optional<std::string> ReadBlobOptions(const ParsedArgs& parsed, BlobOptions& blobs) {
    const struct {
        const char* name;
        double* value;
    } numbers[] = {{"threshold", &blobs.threshold},
                   {"min-area", &blobs.minArea},
                   {"max-area", &blobs.maxArea},
                   {"finger-diameter", &blobs.fingerDiameter}};
    for (const auto& n : numbers) {
        if (parsed.Has(n.name)) {
            const auto v = ParseNumber(parsed.Get(n.name));
            if (!v || *v <= 0) {
                return std::string("--") + n.name + " needs a positive number";
            }
            *n.value = *v;
        }
    }
    if (blobs.minArea > 0 && blobs.maxArea > 0 && blobs.minArea > blobs.maxArea) {
        return std::string("--min-area is above --max-area");
    }
    if (blobs.threshold >= 255) {
        return std::string("--threshold needs fewer than 255 grey levels");
    }
    return std::nullopt;
}

}  // namespace quarvel::cli
