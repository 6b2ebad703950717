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

}  // namespace quarvel::detail

#endif
