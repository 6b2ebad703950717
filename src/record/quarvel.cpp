// The calibration record: construction, copies, destruction and the zero
// test. The record's members own their resources (the matrix is a value,
// the normal list a vector, the canvas a reference-counted image, the
// reader a shared immutable object), so the special members are the
// memberwise ones: a copy holds the same values, no handle is ever released
// twice, and assignment to itself changes nothing.

#include <quarvel/quarvel.h>

#include "platform/tabrel.h"
#include "record/zero_test.h"

Quarvel::Quarvel() = default;
Quarvel::Quarvel(const Quarvel& other) = default;
Quarvel& Quarvel::operator=(const Quarvel& other) = default;
Quarvel::~Quarvel() = default;

bool Quarvel::IsZero(float v) { return quarvel::detail::IsZeroParam(v); }
