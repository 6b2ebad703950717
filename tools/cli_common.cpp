#include "cli_common.h"

#include <cstdio>

#include "platform/number_text.h"

namespace quarvel::cli {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "quarvel: %s\n", message.c_str());
    return status;
}

bool WantsHelp(const Args& args) {
    for (const std::string_view a : args) {
        if (a == "--help" || a == "-h") {
            return true;
        }
    }
    return false;
}

std::optional<CvPoint> ParsePoint(std::string_view text) {
    text = Trim(text);
    std::size_t split = text.find(',');
    std::size_t skip = 1;
    if (split == std::string_view::npos) {
        split = text.find_first_of(" \t");
        if (split == std::string_view::npos) {
            return std::nullopt;
        }
        skip = 0;
    }
    const auto x = detail::ParseInt32(Trim(text.substr(0, split)));
    const auto y = detail::ParseInt32(Trim(text.substr(split + skip)));
    if (!x || !y) {
        return std::nullopt;
    }
    return cvPoint(*x, *y);
}

}  // namespace quarvel::cli
