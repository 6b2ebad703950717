#ifndef QUARVEL_SRC_PARAMS_PARAM_TABLE_H
#define QUARVEL_SRC_PARAMS_PARAM_TABLE_H

#include <array>

namespace quarvel::detail {

// Where a parameter-file entry goes in the calibration record.
enum class ParamTarget {
    ImageWidth,
    ImageHeight,
    FocalZ,
    MapTop,
    MapBottom,
    KeyStoneOriginX,
    KeyStoneOriginY,
    PlaneNormal,  // appended to the normal list
    RotateAngle,
    ShearX,
    MatrixElement,  // element (row, column) of the projective matrix
};

enum class ParamType { Int, Float };

struct ParamEntry {
    const char* section;  // GBK bytes, NUL-terminated
    const char* key;      // GBK bytes (ASCII for the matrix keys), NUL-terminated
    ParamType type;
    ParamTarget target;
    int row;     // matrix row, or -1
    int column;  // matrix column, or -1
};

inline constexpr std::size_t kParamCount = 21;

// The 21 entries of a parameter file in the order they are read: the image
// size, the focal value, the keystone plane, rotation, shear, and the nine
// matrix elements a00 ... a22 in row-major order.
const std::array<ParamEntry, kParamCount>& ParamTable();

// True for the 12 entries the public correction uses: the image size, the
// focal value and the nine matrix elements.
bool UsedByCorrection(ParamTarget target) noexcept;

// A section of the tool's own in a parameter file, which the 21 reads never
// touch: "calibrated display = WxH" records the display size a fit was made
// for.
inline constexpr const char* kOwnSection = "quarvel";
inline constexpr const char* kCalibratedDisplayKey = "calibrated display";

}  // namespace quarvel::detail

#endif
