// Shifts between pixel coordinates and coordinates relative to a chosen
// origin. Neither flips an axis.

#include <quarvel/quarvel.h>

#include "correction/numeric.h"

using quarvel::detail::ToFloat;

FPoint Quarvel::ScreenToDescartes(const CvPoint& p, const FPoint& origin) const {
    return FPoint{ToFloat(p.x - static_cast<double>(origin.x)), ToFloat(p.y - static_cast<double>(origin.y))};
}

FPoint Quarvel::ScreenToDescartes(const FPoint& p, const FPoint& origin) const {
    return FPoint{ToFloat(static_cast<double>(p.x) - origin.x), ToFloat(static_cast<double>(p.y) - origin.y)};
}

FPoint Quarvel::DescartesToScreen(const FPoint& p, const FPoint& origin) const {
    return FPoint{ToFloat(static_cast<double>(p.x) + origin.x), ToFloat(static_cast<double>(p.y) + origin.y)};
}
