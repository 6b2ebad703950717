// quarvel displays: the displays a load could fit to, as the platform
// reports them now.

#include <cstdio>

#include <quarvel/quarvel.h>

#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel displays\n"
    "\n"
    "Lists the displays a load could fit the corrected image to, one per line\n"
    "as \"NAME WIDTHxHEIGHT SOURCE\", with \"*\" before the one a load without\n"
    "--display uses. The platform is asked in this order: the X server named by\n"
    "DISPLAY (its RandR outputs; the primary output is used, else the screen),\n"
    "then the Wayland compositor named by WAYLAND_DISPLAY (the output at (0, 0),\n"
    "else the first), else the 1680x1050 fallback.\n"
    "\n"
    "exit status: 0 success, 2 usage error\n";

}  // namespace

int RunDisplays(const Args& args) {
    ParsedArgs parsed;
    if (const auto error = ParseOptions(args, {}, parsed)) {
        return UsageError("displays ", *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (!parsed.positional.empty()) {
        return UsageError("displays ", "displays takes no arguments");
    }
    for (const DisplayInfo& d : Quarvel::ListDisplays()) {
        std::printf("%s %s %dx%d %s\n", d.used ? "*" : " ", d.name.empty() ? "-" : d.name.c_str(), d.width, d.height,
                    ToString(d.source));
    }
    return kSuccess;
}

}  // namespace quarvel::cli
