#include "blob_options.h"

#include <cstdio>

namespace quarvel::cli {

const std::vector<Option>& BlobOptionList() {
    static const std::vector<Option> options = {{"threshold", 0, true}, {"min-area", 0, true}, {"max-area", 0, true}};
    return options;
}

namespace {

constexpr const char* kBlobOptionsHelp =
    "  --threshold LEVELS  grey levels above the background a touch reaches\n"
    "                      (default 20)\n"
    "  --min-area PIXELS   smaller blobs are noise (default 6)\n"
    "  --max-area PIXELS   larger blobs are not fingers (default 2500)\n";

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
    } numbers[] = {{"threshold", &blobs.threshold}, {"min-area", &blobs.minArea}, {"max-area", &blobs.maxArea}};
    for (const auto& n : numbers) {
        if (parsed.Has(n.name)) {
            const auto v = ParseNumber(parsed.Get(n.name));
            if (!v || *v <= 0) {
                return std::string("--") + n.name + " needs a positive number";
            }
            *n.value = *v;
        }
    }
    if (blobs.minArea > blobs.maxArea) {
        return std::string("--min-area is above --max-area");
    }
    if (blobs.threshold >= 255) {
        return std::string("--threshold needs fewer than 255 grey levels");
    }
    return std::nullopt;
}

}  // namespace quarvel::cli
