#ifndef QUARVEL_TOOLS_CONFIG_FILE_H
#define QUARVEL_TOOLS_CONFIG_FILE_H
// `--config FILE`: a command line kept in a file, so that a surface (its
// cameras, outputs and options) is one file a service names. The file
// holds the arguments as they would be typed, over as many lines as one
// likes; "#" at the start of a word begins a comment that runs to the end
// of its line; '...' and "..." keep spaces inside one argument.

#include <deque>
#include <optional>
#include <string>

#include "cli_common.h"

namespace quarvel::cli {

struct ExpandedArgs {
    std::deque<std::string> words;  // what the files held (the views point into it)
    Args args;
};

// The words of a config file's text; the error message (with its line
// number), or nullopt.
std::optional<std::string> SplitConfig(const std::string& text, std::deque<std::string>& words);

// `args` with each "--config FILE" (or --config=FILE) replaced by the
// file's words, in place: what follows it on the command line wins. The
// files read are added to `files`. The error message, or nullopt.
std::optional<std::string> ExpandConfig(const Args& args, ExpandedArgs& out, std::vector<std::string>* files = nullptr);

}  // namespace quarvel::cli

#endif
