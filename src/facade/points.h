#ifndef QUARVEL_SRC_FACADE_POINTS_H
#define QUARVEL_SRC_FACADE_POINTS_H

// The class's float point and the model's are the same two floats.

#include <quarvel/quarvel.h>

#include "numeric/arithmetic.h"

namespace quarvel::detail {

inline FPoint ToFPoint(const FloatPoint& p) noexcept { return FPoint{p.x, p.y}; }
inline FloatPoint FromFPoint(const FPoint& p) noexcept { return FloatPoint{p.x, p.y}; }

}  // namespace quarvel::detail

#endif
