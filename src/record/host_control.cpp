// What a host controls and learns beyond the calibration itself: the
// display size set-ups fit to, what the last load found, and the displays
// the platform offers.

#include <quarvel/quarvel.h>

#include "platform/display_size.h"
#include "platform/tabrel.h"
#include "preview/paint_cache.h"

void Quarvel::SetDisplaySize(int width, int height) {
    const bool fixed = width > 0 && height > 0;
    hostDisplayWidth = fixed ? width : 0;
    hostDisplayHeight = fixed ? height : 0;
    if (paintCache.get() != nullptr) {
        paintCache.get()->Clear();
    }
}

quarvel::LoadReport Quarvel::GetLoadReport() const {
    try {
        return loadReport ? *loadReport : quarvel::LoadReport{};
    } catch (...) {
        return quarvel::LoadReport{};
    }
}

std::vector<quarvel::DisplayInfo> Quarvel::ListDisplays() {
    try {
        return quarvel::detail::ListDisplays();
    } catch (...) {
        return {};
    }
}
