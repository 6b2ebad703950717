// The lens stage's section of a parameter file.
//
//   [镜头校正参数]
//   form=polynomial            ; or fisheye
//   center x=641.2             ; the distortion centre, camera pixels
//   center y=359.8
//   focal=768                  ; the length positions are measured in
//   k1=-0.1302                 ; radial terms (k4: fisheye only)
//   k2=0.0811
//   k3=0
//   k4=0
//   p1=0.0004                  ; tangential terms
//   p2=-0.0002
//   h00=...                    ; the homography onto the display, h00 ... h22
//   grid=10x7                  ; a residual's control points, when there is one
//   grid x=0.01 -0.02 ...      ; display pixels, row by row
//   grid y=...
//
// Values are decimal text that reads back as exactly the same double.

#include "params/lens_section.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "numeric/lens_math.h"
#include "platform/number_text.h"

namespace quarvel::detail {
namespace {

const char* const kHomographyKeys[9] = {"h00", "h01", "h02", "h10", "h11", "h12", "h20", "h21", "h22"};

std::string DoubleText(double v) {
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// Space-separated numbers.
bool ParseList(std::string_view text, std::vector<double>& out) {
    out.clear();
    while (true) {
        text = TrimBlanks(text);
        if (text.empty()) {
            return true;
        }
        const std::size_t end = text.find_first_of(" \t");
        const auto v = ParseDouble(text.substr(0, end));
        if (!v) {
            return false;
        }
        out.push_back(*v);
        if (end == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(end);
    }
}

}  // namespace

bool ReadLensSection(const CTabrel& reader, LensStage& lens, std::string& problem) {
    const auto text = [&](const char* key) { return reader.Find(kLensSection, key); };
    lens = LensStage();
    problem.clear();
    const std::string* form = text("form");
    bool any = form != nullptr;
    for (const char* key : {"center x", "center y", "focal", "k1", "h00", "grid"}) {
        any = any || text(key) != nullptr;
    }
    if (!any) {
        return false;  // no lens section
    }
    if (form == nullptr || (*form != "polynomial" && *form != "fisheye")) {
        problem = "its form is \"" + (form != nullptr ? *form : std::string()) +
                  "\", not polynomial or fisheye";
        return true;
    }
    LensStage read;
    read.form = *form == "fisheye" ? LensStage::Form::Fisheye : LensStage::Form::Polynomial;
    const auto number = [&](const char* key, double& value, bool required) {
        const std::string* t = text(key);
        if (t == nullptr) {
            if (required) {
                problem = std::string("it has no ") + key;
            }
            return !required;
        }
        const auto v = ParseDouble(*t);
        if (!v) {
            problem = std::string(key) + " is not a number: \"" + *t + "\"";
            return false;
        }
        value = *v;
        return true;
    };
    if (!number("center x", read.centerX, true) || !number("center y", read.centerY, true) ||
        !number("focal", read.focal, true)) {
        return true;
    }
    const char* const kKeys[4] = {"k1", "k2", "k3", "k4"};
    for (int i = 0; i < 4; ++i) {
        if (!number(kKeys[i], read.k[i], false)) {
            return true;
        }
    }
    if (!number("p1", read.p[0], false) || !number("p2", read.p[1], false)) {
        return true;
    }
    for (int i = 0; i < 9; ++i) {
        if (!number(kHomographyKeys[i], read.homography.val[i], true)) {
            return true;
        }
    }
    if (const std::string* grid = text("grid")) {
        const std::size_t x = grid->find('x');
        const int columns = x == std::string::npos ? 0 : ParseInt32(grid->substr(0, x)).value_or(0);
        const int rows = x == std::string::npos ? 0 : ParseInt32(grid->substr(x + 1)).value_or(0);
        std::vector<double> gx;
        std::vector<double> gy;
        const std::string* xs = text("grid x");
        const std::string* ys = text("grid y");
        if (columns < 4 || rows < 4 || columns > 256 || rows > 256 || xs == nullptr || ys == nullptr ||
            !ParseList(*xs, gx) || !ParseList(*ys, gy) || gx.size() != static_cast<std::size_t>(columns * rows) ||
            gy.size() != gx.size()) {
            problem = "its residual grid is not \"grid=CxR\" with C x R numbers in each of grid x and grid y";
            return true;
        }
        read.gridColumns = columns;
        read.gridRows = rows;
        for (std::size_t i = 0; i < gx.size(); ++i) {
            read.grid.emplace_back(gx[i], gy[i]);
        }
    }
    if (!UsableLens(read)) {
        problem = "its values cannot be used (a focal length that is not positive, a homography without an inverse)";
        return true;
    }
    lens = read;
    return true;
}

std::string LensSectionText(const LensStage& lens) {
    if (!lens.active()) {
        return {};
    }
    std::string text = std::string("\r\n[") + kLensSection + "]\r\n";
    const auto line = [&](const char* key, const std::string& value) { text += std::string(key) + "=" + value + "\r\n"; };
    line("form", lens.form == LensStage::Form::Fisheye ? "fisheye" : "polynomial");
    line("center x", DoubleText(lens.centerX));
    line("center y", DoubleText(lens.centerY));
    line("focal", DoubleText(lens.focal));
    const char* const kKeys[4] = {"k1", "k2", "k3", "k4"};
    for (int i = 0; i < 4; ++i) {
        line(kKeys[i], DoubleText(lens.k[i]));
    }
    line("p1", DoubleText(lens.p[0]));
    line("p2", DoubleText(lens.p[1]));
    for (int i = 0; i < 9; ++i) {
        line(kHomographyKeys[i], DoubleText(lens.homography.val[i]));
    }
    if (!lens.grid.empty()) {
        line("grid", std::to_string(lens.gridColumns) + "x" + std::to_string(lens.gridRows));
        std::string xs;
        std::string ys;
        for (const cv::Point2d& v : lens.grid) {
            xs += (xs.empty() ? "" : " ") + DoubleText(v.x);
            ys += (ys.empty() ? "" : " ") + DoubleText(v.y);
        }
        line("grid x", xs);
        line("grid y", ys);
    }
    return text;
}

bool IsLensKey(const char* key) noexcept {
    for (const char* k : {"form", "center x", "center y", "focal", "k1", "k2", "k3", "k4", "p1", "p2", "grid",
                          "grid x", "grid y"}) {
        if (std::strcmp(key, k) == 0) {
            return true;
        }
    }
    for (const char* k : kHomographyKeys) {
        if (std::strcmp(key, k) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace quarvel::detail
