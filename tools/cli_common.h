#ifndef QUARVEL_TOOLS_CLI_COMMON_H
#define QUARVEL_TOOLS_CLI_COMMON_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/types_c.h>

namespace quarvel::cli {

// Exit statuses of every command.
enum ExitStatus : int {
    kSuccess = 0,
    kFinding = 1,  // a bad point line, a failed check
    kUsage = 2,    // a usage error or an unreadable file
};

using Args = std::vector<std::string_view>;

// Prints "quarvel: <message>" to standard error and returns `status`.
int Fail(int status, const std::string& message);

// True when the arguments ask for help.
bool WantsHelp(const Args& args);

// A point written as two integers separated by a comma and/or blanks:
// "12,34", "12 34", " 12 , 34 ".
std::optional<CvPoint> ParsePoint(std::string_view text);

int RunCorrect(const Args& args);
int RunPreview(const Args& args);
int RunCheck(const Args& args);

}  // namespace quarvel::cli

#endif
