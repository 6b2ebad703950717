// What a host controls and learns beyond the calibration itself: the
// display size set-ups fit to, what the last load found, and the displays
// the platform offers.

#include <quarvel/quarvel.h>

#include "facade/facade_state.h"
#include "params/usability.h"
#include "platform/tabrel.h"

void Quarvel::SetDisplaySize(int width, int height) {
    if (!state) {
        state = quarvel::detail::CopyState(nullptr);
        if (!state) {
            return;  // no memory for it: the platform stays asked
        }
    }
    const bool fixed = width > 0 && height > 0;
    state->hostDisplay = fixed ? cv::Size(width, height) : cv::Size();
    state->previews->Clear();
}

quarvel::LoadReport Quarvel::GetLoadReport() const {
    try {
        if (!state || !state->loadReport) {
            return quarvel::LoadReport{};
        }
        quarvel::LoadReport report = *state->loadReport;
        if (report.loaded) {
            // Judged when asked, so that a load costs no walk over the image.
            quarvel::detail::JudgeLoad(report, LoadedModel());
        }
        return report;
    } catch (...) {
        return quarvel::LoadReport{};
    }
}

std::vector<quarvel::DisplayInfo> Quarvel::ListDisplays() { return quarvel::ListDisplays(); }
