#ifndef QUARVEL_TOOLS_BLOB_OPTIONS_H
#define QUARVEL_TOOLS_BLOB_OPTIONS_H

// The options that tell fingers from the background, shared by track and
// calibrate --touch.

#include <optional>
#include <string>
#include <vector>

#include <quarvel/touch.h>

#include "cli_common.h"

namespace quarvel::cli {

// --threshold, --min-area, --max-area, --finger-diameter (--finger).
const std::vector<Option>& BlobOptionList();

// Their names, for a mode that refuses them.
std::vector<std::string_view> BlobOptionNames();

// Prints a command's help, their lines in place of "@BLOB_OPTIONS@".
void PrintHelpWithBlobOptions(const char* help);

// The options given, over `blobs`; the error message, or nullopt.
std::optional<std::string> ReadBlobOptions(const ParsedArgs& parsed, BlobOptions& blobs);

}  // namespace quarvel::cli

#endif
