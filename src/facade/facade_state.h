#ifndef QUARVEL_SRC_FACADE_FACADE_STATE_H
#define QUARVEL_SRC_FACADE_FACADE_STATE_H

#include <memory>

#include <opencv2/core.hpp>

#include <quarvel/load_report.h>

#include "model/lens_map.h"
#include "preview/paint_cache.h"

namespace quarvel::detail {

// What a Quarvel instance keeps beyond its calibration record.
struct FacadeState {
    // The display size SetDisplaySize fixed; empty: ask the platform.
    cv::Size hostDisplay;
    // The display the last set-up fitted to (empty before any did).
    cv::Size setUpDisplay;
    // What the last load found; shared by copies, never changed once made.
    std::shared_ptr<const LoadReport> loadReport;
    // The preview maps for the loaded calibration. A copy starts without:
    // the cache follows the calibration, and a copy may be loaded otherwise.
    std::shared_ptr<PaintCache> previews = std::make_shared<PaintCache>();
    // The lens stage the last load read (none: the record's chain alone),
    // and its tables for the geometry the last set-up derived; copies share
    // them (they never change).
    LensStage lens;
    std::shared_ptr<const LensMap> lensMap;
};

// A copy of `state` without its previews; null where memory ran out.
std::unique_ptr<FacadeState> CopyState(const FacadeState* state) noexcept;

}  // namespace quarvel::detail

#endif
