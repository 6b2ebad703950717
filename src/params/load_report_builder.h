#ifndef QUARVEL_SRC_PARAMS_LOAD_REPORT_BUILDER_H
#define QUARVEL_SRC_PARAMS_LOAD_REPORT_BUILDER_H

#include <string>

#include <opencv2/core.hpp>

#include <quarvel/load_report.h>

#include "platform/tabrel.h"

namespace quarvel::detail {

// What a file read through `reader` holds: the encoding, each of the 21
// entries (value, missing with its near misses, or not a number with its
// text), the names the file holds that are none of them, and the display
// size a fit was recorded for. The display and set-up are the loader's to
// fill in.
LoadReport BuildLoadReport(const CTabrel& reader, const std::string& path);

// The display size the file's [quarvel] section records ("calibrated
// display = WxH"); empty when it records none.
cv::Size CalibratedDisplay(const CTabrel& reader) noexcept;

}  // namespace quarvel::detail

#endif
