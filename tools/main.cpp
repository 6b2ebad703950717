// quarvel: correct points, preview and check calibrations from the shell.

#include <cstdio>
#include <string>

#include <quarvel/version.h>

#include "cli_common.h"

namespace {

constexpr const char* kMainHelp =
    "usage: quarvel <command> [options]\n"
    "\n"
    "commands:\n"
    "  correct PARAMS [X,Y ...]              correct points (from the arguments or standard input)\n"
    "  preview PARAMS IMAGE [-o OUT] [--show] paint an image through the calibration into a PNG\n"
    "  check PARAMS                           report on a parameter file\n"
    "\n"
    "options:\n"
    "  --help      help for quarvel or for a command (quarvel correct --help)\n"
    "  --version   the library version\n"
    "\n"
    "exit status: 0 success, 1 a finding (bad point line, failed check),\n"
    "             2 usage error or unreadable file\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace quarvel::cli;
    Args args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kMainHelp, stderr);
        return kUsage;
    }
    const std::string_view command = args.front();
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kMainHelp, stdout);
        return kSuccess;
    }
    if (command == "--version") {
        std::printf("quarvel %s\n", QUARVEL_VERSION_STRING);
        return kSuccess;
    }
    if (command == "correct") {
        return RunCorrect(args);
    }
    if (command == "preview") {
        return RunPreview(args);
    }
    if (command == "check") {
        return RunCheck(args);
    }
    std::fputs(kMainHelp, stderr);
    return Fail(kUsage, "unknown command '" + std::string(command) + "'");
}
