#ifndef QUARVEL_TESTS_SUPPORT_FIXTURES_H
#define QUARVEL_TESTS_SUPPORT_FIXTURES_H

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>
#include <quarvel/quarvel.h>

namespace quarvel::test {

// A directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Writes `bytes` exactly to a file in the directory and returns its path.
    std::string Write(const std::string& name, std::string_view bytes) const;

private:
    std::filesystem::path path_;
};

// UTF-8 text converted to GBK by iconv, independent of the library's own
// conversion. Fails the calling test when the text has no GBK form.
std::string ToGbk(std::string_view utf8);

// A parameter file as (section, key, value) lines in UTF-8, grouped under
// their section headers in the order given.
struct IniLine {
    std::string section;
    std::string key;
    std::string value;
};
std::string IniText(const std::vector<IniLine>& lines);

// All 21 entries of a parameter file, with the given values and matrix
// (row-major a00 ... a22).
std::vector<IniLine> CalibrationLines(int width, int height, float focal, const std::vector<std::string>& matrix);

// A grey source whose every pixel differs from its neighbours (never 0).
cv::Mat Pattern(int width, int height);

// The whole contents of a file ("" when it cannot be read).
std::string Slurp(const std::string& path);

// Calibration values: an image size, a focal value and a matrix; the rest
// neutral.
CalibrationParams ParamsOf(int width, int height, float focal, const cv::Matx33f& m = cv::Matx33f::eye());

// An instance loaded with `params` through the public API, set up for a
// display of `display` (the 1680 x 1050 the tests' platform answers by
// default).
Quarvel Loaded(const CalibrationParams& params, cv::Size display = cv::Size(1680, 1050));
Quarvel Loaded(int width, int height, float focal, const cv::Matx33f& m = cv::Matx33f::eye(),
               cv::Size display = cv::Size(1680, 1050));

}  // namespace quarvel::test

#endif
