// Whether a loaded file gives a calibration anything can be corrected with.

#include "params/usability.h"

#include <algorithm>

#include "params/param_table.h"

namespace quarvel::detail {

std::string UnusableReason(const LoadReport& report, const Model& model) {
    if (!report.loaded) {
        return "the file cannot be read";
    }
    const auto found = [](const EntryReport& e) { return e.status == EntryStatus::Found; };
    if (report.entries.size() == kParamCount) {
        if (std::none_of(report.entries.begin(), report.entries.end(), found)) {
            return "it holds none of the 21 parameter entries (is it a parameter file?)";
        }
        if (!found(report.entries[0]) || !found(report.entries[1])) {
            return "it has no image size ([" + report.entries[0].section + "] " + report.entries[0].key + " and " +
                   report.entries[1].key + ")";
        }
    }
    if (report.lens.present && !report.lens.applied) {
        return "its lens section cannot be used: " + report.lens.problem;
    }
    const CalibrationParams& p = model.params();
    if (p.imageWidth <= 0 || p.imageHeight <= 0) {
        return "its image size " + std::to_string(p.imageWidth) + " x " + std::to_string(p.imageHeight) +
               " is not positive";
    }
    const std::vector<Flaw> flaws = Diagnose(model);
    return flaws.empty() ? std::string() : flaws.front().message;
}

void JudgeLoad(LoadReport& report, const Model& model) {
    report.reason = UnusableReason(report, model);
    report.ok = report.reason.empty();
}

}  // namespace quarvel::detail
