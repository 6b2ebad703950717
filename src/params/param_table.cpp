#include "params/param_table.h"

#include <cstdio>

namespace quarvel::detail {
namespace {

// Section and key names, GBK-encoded. The bytes are spelled out so that the
// table does not depend on the encoding this file is saved in. Hex escapes
// are split before a following hex digit ("\xBF" "0").
constexpr const char kImageSection[] = "\xCD\xBC\xCF\xF1\xB2\xCE\xCA\xFD";             // 图像参数
constexpr const char kImageWidth[] = "\xCD\xBC\xCF\xF1\xBF\xED\xB6\xC8";               // 图像宽度
constexpr const char kImageHeight[] = "\xCD\xBC\xCF\xF1\xB8\xDF\xB6\xC8";              // 图像高度
constexpr const char kBarrelSection[] = "\xCD\xB0\xD0\xCE\xD0\xA3\xD5\xFD\xB2\xCE\xCA\xFD";  // 桶形校正参数
constexpr const char kFocalZ[] = "\xBD\xB9\xB5\xE3" "Z" "\xD6\xB5";                    // 焦点Z值
constexpr const char kKeyStoneSection[] = "\xCC\xDD\xD0\xCE\xD0\xA3\xD5\xFD\xB2\xCE\xCA\xFD";  // 梯形校正参数
constexpr const char kMapTop[] = "\xD3\xB3\xC9\xE4\xB6\xA5\xB5\xE3";                   // 映射顶点
constexpr const char kMapBottom[] = "\xD3\xB3\xC9\xE4\xB5\xD7\xB5\xE3";                // 映射底点
constexpr const char kOriginX[] = "\xCC\xDD\xD0\xCE\xD4\xAD\xB5\xE3" "X" "\xD7\xF8\xB1\xEA";  // 梯形原点X坐标
constexpr const char kOriginY[] = "\xCC\xDD\xD0\xCE\xD4\xAD\xB5\xE3" "y" "\xD7\xF8\xB1\xEA";  // 梯形原点y坐标
constexpr const char kNormal0[] = "\xD3\xB3\xC9\xE4\xC6\xBD\xC3\xE6\xB7\xA8\xCF\xF2\xC1\xBF" "0";  // 映射平面法向量0
constexpr const char kNormal1[] = "\xD3\xB3\xC9\xE4\xC6\xBD\xC3\xE6\xB7\xA8\xCF\xF2\xC1\xBF" "1";  // 映射平面法向量1
constexpr const char kNormal2[] = "\xD3\xB3\xC9\xE4\xC6\xBD\xC3\xE6\xB7\xA8\xCF\xF2\xC1\xBF" "2";  // 映射平面法向量2
constexpr const char kRotateSection[] = "\xD0\xFD\xD7\xAA\xB2\xCE\xCA\xFD";            // 旋转参数
constexpr const char kRotateAngle[] = "\xD0\xFD\xD7\xAA\xBD\xC7\xB6\xC8";              // 旋转角度
constexpr const char kShearSection[] = "\xC7\xD0\xB1\xE4\xB2\xCE\xCA\xFD";             // 切变参数
constexpr const char kShearX[] = "X" "\xD6\xE1\xC7\xD0\xB1\xE4\xCF\xB5\xCA\xFD";       // X轴切变系数
constexpr const char kMatrixSection[] = "\xBE\xD8\xD5\xF3\xB2\xCE\xCA\xFD";            // 矩阵参数

constexpr ParamEntry Named(const char* section, const char* key, ParamType type, ParamTarget target) {
    return ParamEntry{section, key, type, target, -1, -1};
}

// Matrix keys are "a" followed by the row and column ("%d%d"): a00 ... a22.
std::array<char[4], 9> BuildMatrixKeys() {
    std::array<char[4], 9> keys{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            std::snprintf(keys[static_cast<std::size_t>(i * 3 + j)], sizeof keys[0], "a%d%d", i, j);
        }
    }
    return keys;
}

std::array<ParamEntry, kParamCount> BuildTable() {
    static const std::array<char[4], 9> matrixKeys = BuildMatrixKeys();
    std::array<ParamEntry, kParamCount> table{{
        Named(kImageSection, kImageWidth, ParamType::Int, ParamTarget::ImageWidth),
        Named(kImageSection, kImageHeight, ParamType::Int, ParamTarget::ImageHeight),
        Named(kBarrelSection, kFocalZ, ParamType::Float, ParamTarget::FocalZ),
        Named(kKeyStoneSection, kMapTop, ParamType::Float, ParamTarget::MapTop),
        Named(kKeyStoneSection, kMapBottom, ParamType::Float, ParamTarget::MapBottom),
        Named(kKeyStoneSection, kOriginX, ParamType::Float, ParamTarget::KeyStoneOriginX),
        Named(kKeyStoneSection, kOriginY, ParamType::Float, ParamTarget::KeyStoneOriginY),
        Named(kKeyStoneSection, kNormal0, ParamType::Float, ParamTarget::PlaneNormal),
        Named(kKeyStoneSection, kNormal1, ParamType::Float, ParamTarget::PlaneNormal),
        Named(kKeyStoneSection, kNormal2, ParamType::Float, ParamTarget::PlaneNormal),
        Named(kRotateSection, kRotateAngle, ParamType::Float, ParamTarget::RotateAngle),
        Named(kShearSection, kShearX, ParamType::Float, ParamTarget::ShearX),
    }};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const auto n = static_cast<std::size_t>(i * 3 + j);
            table[12 + n] = ParamEntry{kMatrixSection, matrixKeys[n], ParamType::Float, ParamTarget::MatrixElement, i, j};
        }
    }
    return table;
}

}  // namespace

bool UsedByCorrection(ParamTarget target) noexcept {
    return target == ParamTarget::ImageWidth || target == ParamTarget::ImageHeight || target == ParamTarget::FocalZ ||
           target == ParamTarget::MatrixElement;
}

const std::array<ParamEntry, kParamCount>& ParamTable() {
    static const std::array<ParamEntry, kParamCount> table = BuildTable();
    return table;
}

}  // namespace quarvel::detail
