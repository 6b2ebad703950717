#ifndef QUARVEL_PARAMETER_FILE_H
#define QUARVEL_PARAMETER_FILE_H

// The parameter file both ways: read it into CalibrationParams with a
// report of what was found, and write one from them.
//
//   const quarvel::ParameterFile file = quarvel::ReadParameterFile("projector.ini");
//   if (file.read) {
//       quarvel::Model model(file.params, cv::Size(1920, 1080));
//       ...
//   }
//   quarvel::WriteParameterFile("copy.ini", file.params);
//
// The file is INI: "[section]" headers, "key=value" lines, names in GBK
// (or UTF-8, or UTF-16 with a byte-order mark). The 21 entries are listed
// in the README; a section [quarvel] is the library's own.

#include <optional>
#include <string>
#include <string_view>

#include <quarvel/export.h>
#include <quarvel/load_report.h>
#include <quarvel/model.h>
#include <quarvel/result.h>

namespace quarvel {

struct ParameterFile {
    bool read = false;         // false: no readable file (params is then `base` unchanged)
    // The values give a usable calibration (see LoadReport::ok), set up
    // for the display the file records, else the assumed one.
    bool ok = false;
    std::string reason;        // why not ok: the file cannot be read, holds no calibration, ...
    CalibrationParams params;  // the values the file holds, over `base`
    LoadReport report;         // what was found (no display or set-up: nothing was set up)
};

// Reads the parameter file at `path` over `base`: each of the 21 entries
// the file holds replaces its value; an entry it lacks, or whose text is
// not a number of its type, leaves `base`'s value, except that a missing
// matrix element is 0 and a missing normal component repeats the one before
// it (the first: 0), as a load always has. The display size recorded in the
// [quarvel] section goes to displayWidth and displayHeight. Exactly 21
// reads in the documented order. Not read (`read` false): a path that is
// not a readable regular file of at most 1 MiB. `ok` and `reason` (also in
// `report`) say whether the values give a usable calibration. Never throws.
QUARVEL_EXPORT ParameterFile ReadParameterFile(const std::string& path,
                                               const CalibrationParams& base = CalibrationParams());

// Writes a complete parameter file for `params`: GBK (what existing hosts
// read) or UTF-8, the 21 entries, and the display size in the section
// [quarvel] when params records one. Values are written as
// FormatParameterValue gives them, so they read back exactly. The file is
// written whole or not at all (a temporary beside it is renamed). Not ok,
// with the reason, when it cannot be.
QUARVEL_EXPORT Result WriteParameterFile(const std::string& path, const CalibrationParams& params, bool utf8 = false);

// The text a parameter file holds for `value`: the shortest decimal that
// reads back as exactly the same float ("0.02", not "0.0199999996").
QUARVEL_EXPORT std::string FormatParameterValue(float value);

// A value's text read as a load reads it, independent of the process
// locale: blanks around it ignored, an optional sign, then a decimal
// number with an optional exponent, within the float range ("inf", "nan",
// hexadecimal and "1e39" refused).
QUARVEL_EXPORT std::optional<float> ParseParameterValue(std::string_view text);

// An integer entry's text (the image size): blanks around it ignored, an
// optional sign and decimal digits within the 32-bit range.
QUARVEL_EXPORT std::optional<int> ParseParameterInteger(std::string_view text);

}  // namespace quarvel

#endif
