#ifndef QUARVEL_TOOLS_WALL_CHECK_H
#define QUARVEL_TOOLS_WALL_CHECK_H

#include <vector>

#include "cli_common.h"
#include "track_setup.h"

namespace quarvel::cli {

// `quarvel check` of several cameras: coverage once and twice, and the
// seams' disagreement where frames of the pattern are given.
int RunWallCheck(const ParsedArgs& parsed, const std::vector<WallCamera>& cameras);

}  // namespace quarvel::cli

#endif
