#ifndef QUARVEL_SRC_PARAMS_PARAMETER_READER_H
#define QUARVEL_SRC_PARAMS_PARAMETER_READER_H

#include <quarvel/model.h>

#include "platform/tabrel.h"

namespace quarvel::detail {

// The 21 reads of a parameter file through `reader`, in the table's order,
// over the values `params` holds: a value the file lacks or cannot parse
// stays as it was, except that a matrix element becomes 0 and a normal
// component repeats the one read before it (0.0 for the first), since all
// three go through one temporary that starts at 0.0 and is not reset
// between them. The display size recorded in [quarvel] goes to
// displayWidth/Height. Allocates nothing.
void ReadParameters(const CTabrel& reader, CalibrationParams& params) noexcept;

}  // namespace quarvel::detail

#endif
