#ifndef QUARVEL_SRC_CAMERA_MARKER_CONSISTENCY_H
#define QUARVEL_SRC_CAMERA_MARKER_CONSISTENCY_H

#include "camera/marker_board.h"

namespace quarvel::detail {

// Keeps the markers (all of `board`'s) that most of their neighbours on the
// board agree with: each marker's own four corners map the board to the
// frame around it, and a neighbour agrees when that mapping puts it where
// it was decoded, and the other way round. Holds under any lens the fit
// takes, since neighbours are close. `square` is the board's square side in
// its units.
void KeepConsistentMarkers(const MarkerBoard& board, float square, FoundMarkers& markers);

}  // namespace quarvel::detail

#endif
