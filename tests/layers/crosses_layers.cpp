// Compiled as a source of the touch layer: the camera layer's headers are
// not within its reach, so this must not compile.
#include "camera/board.h"

int QuarvelLayerProbe() { return 0; }
