#include "cli_common.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

namespace quarvel::cli {
namespace {

const Option* FindOption(const std::vector<Option>& options, std::string_view name, char letter) {
    for (const Option& o : options) {
        if ((!name.empty() && (o.name == name || (!o.alias.empty() && o.alias == name))) ||
            (letter != 0 && o.letter == letter)) {
            return &o;
        }
    }
    return nullptr;
}

}  // namespace

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "quarvel: %s\n", message.c_str());
    return status;
}

int UsageError(std::string_view command, const std::string& message) {
    std::fprintf(stderr, "quarvel: %s\ntry 'quarvel %.*s--help'\n", message.c_str(), static_cast<int>(command.size()),
                 command.data());
    return kUsage;
}

std::optional<std::string> ParseOptions(const Args& args, const std::vector<Option>& options, ParsedArgs& out) {
    bool onlyArguments = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (onlyArguments || a == "-" || a.size() < 2 || a.front() != '-') {
            out.positional.emplace_back(a);
            continue;
        }
        if (a == "--") {
            onlyArguments = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            out.help = true;
            continue;
        }
        std::string_view name;
        char letter = 0;
        std::optional<std::string_view> inlineValue;
        if (a.substr(0, 2) == "--") {
            name = a.substr(2);
            if (const std::size_t eq = name.find('='); eq != std::string_view::npos) {
                inlineValue = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
        } else if (a.size() == 2) {
            letter = a[1];
        } else if (std::isdigit(static_cast<unsigned char>(a[1])) != 0) {
            out.positional.emplace_back(a);  // a negative number
            continue;
        } else {
            return "unknown option '" + std::string(a) + "'";
        }
        const Option* option = FindOption(options, name, letter);
        if (option == nullptr) {
            if (letter != 0 && std::isdigit(static_cast<unsigned char>(letter)) != 0) {
                out.positional.emplace_back(a);
                continue;
            }
            return "unknown option '" + std::string(a) + "'";
        }
        const std::string key(option->name);
        if (!option->takesValue) {
            if (inlineValue) {
                return "option '--" + key + "' takes no value";
            }
            out.values[key] = "";
            continue;
        }
        if (inlineValue) {
            out.values[key] = std::string(*inlineValue);
        } else if (i + 1 < args.size()) {
            out.values[key] = std::string(args[++i]);
        } else {
            return "option '" + std::string(a) + "' needs a value";
        }
    }
    return std::nullopt;
}

std::optional<std::string> RefuseUnused(const ParsedArgs& args, const std::vector<std::string_view>& names,
                                        std::string_view onlyFor) {
    for (const std::string_view name : names) {
        if (args.Has(name)) {
            return "--" + std::string(name) + " is only for " + std::string(onlyFor);
        }
    }
    return std::nullopt;
}

bool IsVideoPath(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && (path.substr(dot) == ".avi" || path.substr(dot) == ".AVI");
}

std::optional<int> ParseInt(std::string_view text) { return ParseParameterInteger(text); }

std::optional<double> ParseNumber(std::string_view text) {
    // A double's digits, without the blanks around them or a leading '+'
    // (which from_chars does not take); the rest as an integer is read.
    const std::size_t first = text.find_first_not_of(" \t\r");
    const std::size_t last = text.find_last_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, last - first + 1);
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::pair<int, int>> ParseSize(std::string_view text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const auto w = ParseInt(text.substr(0, x));
    const auto h = ParseInt(text.substr(x + 1));
    if (!w || !h || *w <= 0 || *h <= 0) {
        return std::nullopt;
    }
    return std::make_pair(*w, *h);
}

std::optional<std::string> ResolveDisplay(const ParsedArgs& args, DisplayInfo& display, bool allowFallback) {
    if (!args.Has("display")) {
        display = QueryDisplay();
        if (display.source == DisplaySource::Fallback && !allowFallback) {
            return std::string("no X server or Wayland compositor answered, so the display's size is unknown: name it "
                               "with --display WxH (the projector's resolution)");
        }
        return std::nullopt;
    }
    const std::string value = args.Get("display");
    const std::size_t x = value.find_first_of("xX");
    if (x != std::string::npos && ParseInt(value.substr(0, x)) && ParseInt(value.substr(x + 1))) {
        const auto size = ParseSize(value);
        if (!size) {
            return "--display " + value + ": the width and height must be positive";
        }
        display = DisplayInfo{};
        display.width = size->first;
        display.height = size->second;
        display.source = DisplaySource::Host;
        return std::nullopt;
    }
    const std::vector<DisplayInfo> displays = ListDisplays();
    std::string known;
    for (const DisplayInfo& d : displays) {
        if (!d.name.empty() && d.name == value) {
            display = d;
            return std::nullopt;
        }
        if (!d.name.empty()) {
            known += (known.empty() ? "" : ", ") + d.name + " (" + std::to_string(d.width) + "x" +
                     std::to_string(d.height) + ")";
        }
    }
    return "--display: '" + value + "' is neither WxH nor an output; outputs: " +
           (known.empty() ? std::string("none") : known);
}

std::optional<std::string> ApplyDisplayOption(const ParsedArgs& args, Quarvel& q) {
    if (!args.Has("display")) {
        return std::nullopt;
    }
    DisplayInfo display;
    if (auto error = ResolveDisplay(args, display)) {
        return error;
    }
    q.SetDisplaySize(display.width, display.height);
    return std::nullopt;
}

std::optional<CvPoint> ParsePoint(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    text = first == std::string_view::npos ? std::string_view() : text.substr(first);
    std::size_t split = text.find(',');
    std::size_t skip = 1;
    if (split == std::string_view::npos) {
        split = text.find_first_of(" \t");
        if (split == std::string_view::npos) {
            return std::nullopt;
        }
        skip = 0;
    }
    const auto x = ParseInt(text.substr(0, split));
    const auto y = ParseInt(text.substr(split + skip));
    if (!x || !y) {
        return std::nullopt;
    }
    return cvPoint(*x, *y);
}

bool IsSkippedLine(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    return first == std::string_view::npos || line[first] == '#';
}

}  // namespace quarvel::cli
