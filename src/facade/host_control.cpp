// What a host controls and learns beyond the calibration itself: the
// display size set-ups fit to, what the last load found, and the displays
// the platform offers.

#include <quarvel/quarvel.h>

#include "facade/facade_state.h"
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
        return state && state->loadReport ? *state->loadReport : quarvel::LoadReport{};
    } catch (...) {
        return quarvel::LoadReport{};
    }
}

std::vector<quarvel::DisplayInfo> Quarvel::ListDisplays() { return quarvel::ListDisplays(); }
