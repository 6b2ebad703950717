#ifndef QUARVEL_SRC_PARAMS_LOAD_REPORT_BUILDER_H
#define QUARVEL_SRC_PARAMS_LOAD_REPORT_BUILDER_H

#include <string>

#include <quarvel/load_report.h>

#include "correction/radial_setup.h"
#include "platform/tabrel.h"

namespace quarvel::detail {

// What a load through `reader` found: the encoding, each of the 21 entries
// (value, missing with its near misses, or not a number with its text),
// the names the file holds that are none of them, the display size the
// fit was recorded for, and the set-up. `stored` is the geometry as the
// record holds it after the load.
LoadReport BuildLoadReport(const CTabrel& reader, const std::string& path, const RadialSetup& setup,
                           const SetupReport& stored);

}  // namespace quarvel::detail

#endif
