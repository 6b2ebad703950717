#include "support/fixtures.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quarvel::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarvel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, std::string_view bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << file;
    return file.string();
}

std::string ToGbk(std::string_view utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv has no UTF-8 to GBK conversion";
        return {};
    }
    std::string in(utf8);
    std::string out(in.size() * 2 + 4, '\0');
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    EXPECT_NE(rc, static_cast<std::size_t>(-1)) << "no GBK form for: " << utf8;
    out.resize(out.size() - dstLeft);
    return out;
}

std::string IniText(const std::vector<IniLine>& lines) {
    std::string text;
    const std::string* current = nullptr;
    for (const IniLine& line : lines) {
        if (current == nullptr || *current != line.section) {
            text += "[" + line.section + "]\n";
            current = &line.section;
        }
        text += line.key + "=" + line.value + "\n";
    }
    return text;
}

std::vector<IniLine> CalibrationLines(int width, int height, float focal, const std::vector<std::string>& matrix) {
    char focalText[64];
    std::snprintf(focalText, sizeof focalText, "%.9g", static_cast<double>(focal));
    std::vector<IniLine> lines = {
        {"图像参数", "图像宽度", std::to_string(width)},
        {"图像参数", "图像高度", std::to_string(height)},
        {"桶形校正参数", "焦点Z值", focalText},
        {"梯形校正参数", "映射顶点", "2.5"},
        {"梯形校正参数", "映射底点", "-1.5"},
        {"梯形校正参数", "梯形原点X坐标", "320"},
        {"梯形校正参数", "梯形原点y坐标", "240"},
        {"梯形校正参数", "映射平面法向量0", "0.125"},
        {"梯形校正参数", "映射平面法向量1", "-0.25"},
        {"梯形校正参数", "映射平面法向量2", "1"},
        {"旋转参数", "旋转角度", "1.75"},
        {"切变参数", "X轴切变系数", "0.0625"},
    };
    const char* keys[] = {"a00", "a01", "a02", "a10", "a11", "a12", "a20", "a21", "a22"};
    for (std::size_t i = 0; i < 9; ++i) {
        lines.push_back({"矩阵参数", keys[i], i < matrix.size() ? matrix[i] : "0"});
    }
    return lines;
}

cv::Mat Pattern(int width, int height) {
    cv::Mat m(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            m.at<unsigned char>(y, x) = static_cast<unsigned char>(1 + (x * 7 + y * 13) % 255);
        }
    }
    return m;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

CalibrationParams ParamsOf(int width, int height, float focal, const cv::Matx33f& m) {
    CalibrationParams p;
    p.imageWidth = width;
    p.imageHeight = height;
    p.focalZ = focal;
    p.matrix = m;
    return p;
}

Quarvel Loaded(const CalibrationParams& params, cv::Size display) {
    Quarvel q;
    q.SetDisplaySize(display.width, display.height);
    q.LoadParams(params);
    return q;
}

Quarvel Loaded(int width, int height, float focal, const cv::Matx33f& m, cv::Size display) {
    return Loaded(ParamsOf(width, height, focal, m), display);
}

}  // namespace quarvel::test
