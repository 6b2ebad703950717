#ifndef QUARVEL_SRC_MODEL_MODEL_ACCESS_H
#define QUARVEL_SRC_MODEL_MODEL_ACCESS_H

#include <memory>

#include <quarvel/model.h>

#include "model/chain.h"

namespace quarvel::detail {

// The lens stage's tables for `params` set up with `geometry`; null without
// a usable stage.
std::shared_ptr<const LensMap> BuildLensMap(const CalibrationParams& params, const Geometry& geometry);

// What the library needs of a Model beyond its public face: one made with
// lens tables already built (a loaded instance builds them once per load,
// not at every GetModel), and the chain a model corrects through.
struct ModelAccess {
    static Model With(const CalibrationParams& params, cv::Size display, const Geometry& geometry,
                      std::shared_ptr<const LensMap> lens);
    static const std::shared_ptr<const LensMap>& Lens(const Model& m) noexcept;
    static Chain ChainOf(const Model& m) noexcept;
};

}  // namespace quarvel::detail

#endif
