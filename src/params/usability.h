#ifndef QUARVEL_SRC_PARAMS_USABILITY_H
#define QUARVEL_SRC_PARAMS_USABILITY_H

#include <string>

#include <quarvel/load_report.h>
#include <quarvel/model.h>

namespace quarvel::detail {

// Why what a load found gives no usable calibration, in one sentence; empty
// when it gives one. Unusable: a file that holds none of the 21 entries, no
// positive image size, or a calibration Diagnose finds a flaw in (a focal
// value too short, w not positive over the image, a folded picture).
std::string UnusableReason(const LoadReport& report, const Model& model);

// `report` with ok and reason filled in for `model`.
void JudgeLoad(LoadReport& report, const Model& model);

}  // namespace quarvel::detail

#endif
