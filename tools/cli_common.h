#ifndef QUARVEL_TOOLS_CLI_COMMON_H
#define QUARVEL_TOOLS_CLI_COMMON_H

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/types_c.h>

#include <quarvel/display.h>

class Quarvel;

namespace quarvel::cli {

// Exit statuses of every command.
enum ExitStatus : int {
    kSuccess = 0,
    kFinding = 1,  // a bad point line, a failed check, no trustworthy fit
    kUsage = 2,    // a usage error, an unreadable or unwritable file
};

using Args = std::vector<std::string_view>;

// Prints "quarvel: <message>" to standard error and returns `status`.
int Fail(int status, const std::string& message);

// A usage error: "quarvel: <message>" and "try 'quarvel <command> --help'"
// on standard error; returns kUsage.
int UsageError(std::string_view command, const std::string& message);

// A command's options: "--name VALUE", "--name=VALUE", "-x VALUE" for those
// that take a value; "--name" alone for flags. "-" is an argument (standard
// input); so is everything after "--".
struct Option {
    std::string_view name;  // long name without the dashes
    char letter;            // short form, or 0
    bool takesValue;
    // An older long name that still works, stored under `name` (the help
    // names only `name`).
    std::string_view alias = {};
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string, std::less<>> values;  // last one given wins
    bool help = false;
    bool Has(std::string_view name) const { return values.find(name) != values.end(); }
    std::string Get(std::string_view name, std::string fallback = {}) const {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
};

// Parses `args` against `options`; the error message, or nullopt.
std::optional<std::string> ParseOptions(const Args& args, const std::vector<Option>& options, ParsedArgs& out);

// An error naming the first of `names` that was given, for a mode that
// does not use them ("--finger-diameter is only for --touch"), or nullopt.
std::optional<std::string> RefuseUnused(const ParsedArgs& args, const std::vector<std::string_view>& names,
                                        std::string_view onlyFor);

// The option every loading command takes.
inline constexpr Option kDisplayOption{"display", 0, true};

// The display "--display WxH" (that size, DisplaySource::Host) or
// "--display NAME" (that RandR or Wayland output) names, or, without the
// option, the one a load would use. The error message (an unknown name
// lists the outputs; without `allowFallback`, no display answering), or
// nullopt.
std::optional<std::string> ResolveDisplay(const ParsedArgs& args, DisplayInfo& display, bool allowFallback = true);

// Applies --display, when given, to `q` (SetDisplaySize). The error
// message, or nullopt.
std::optional<std::string> ApplyDisplayOption(const ParsedArgs& args, Quarvel& q);

// Two positive integers written "WxH".
std::optional<std::pair<int, int>> ParseSize(std::string_view text);

// A decimal integer within the 32-bit range (blanks around it and a sign
// allowed), as a parameter file's integers are read.
std::optional<int> ParseInt(std::string_view text);
// A finite decimal number (blanks around it and a sign allowed).
std::optional<double> ParseNumber(std::string_view text);

// A point written as two integers separated by a comma and/or blanks:
// "12,34", "12 34", " 12 , 34 ".
std::optional<CvPoint> ParsePoint(std::string_view text);

// Whether an output path is a video (.avi) rather than a picture.
bool IsVideoPath(const std::string& path);

// Blank lines and lines whose first non-blank character is '#'.
bool IsSkippedLine(std::string_view line);

int RunCorrect(const Args& args);
int RunPreview(const Args& args);
int RunCheck(const Args& args);
int RunDisplays(const Args& args);
int RunCameras(const Args& args);
int RunCalibrate(const Args& args);
int RunPattern(const Args& args);
int RunTrack(const Args& args);
int RunFuse(const Args& args);

}  // namespace quarvel::cli

#endif
