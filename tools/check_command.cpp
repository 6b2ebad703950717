// quarvel check PARAMS: a calibration engineer's report on a parameter file.
// It reads the file through the library's own reader and parameter table and
// derives the geometry with the library's own set-up, so the report shows
// exactly what a load would do.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "cli_common.h"
#include "correction/radial_setup.h"
#include "params/param_table.h"
#include "platform/display_size.h"
#include "platform/tabrel.h"
#include "platform/text_encoding.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel check PARAMS\n"
    "\n"
    "Reports on the parameter file PARAMS: the encoding it was read as, each\n"
    "of the 21 entries with its value (or \"missing\", or \"not a number\" with\n"
    "the text found), the display size used and the derived output geometry,\n"
    "and warnings for what makes a calibration unusable: image dimensions that\n"
    "are not positive, a focal value too short for the image, and a matrix\n"
    "whose w is zero or negative at a corner of the corrected image.\n"
    "\n"
    "exit status: 0 all 21 entries present and no warning, 1 otherwise,\n"
    "             2 usage error or unreadable file\n";

std::string Printable(const char* gbk) {
    const auto utf8 = detail::GbkToUtf8(gbk);
    return utf8 ? *utf8 : std::string(gbk);
}

// The shortest text that reads back as the same float ("0.02", not
// "0.0199999996").
std::string FormatFloat(float v) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

// The values a load into a fresh instance would produce.
struct Loaded {
    int imageWidth = 0;
    int imageHeight = 0;
    float focalZ = 0.0f;
    cv::Matx33f matrix = cv::Matx33f::zeros();
};

}  // namespace

int RunCheck(const Args& args) {
    if (WantsHelp(args)) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (args.size() != 1) {
        std::fputs(kHelp, stderr);
        return Fail(kUsage, "check: expected exactly one PARAMS file");
    }
    const std::string path(args[0]);
    const auto reader = detail::CTabrel::Open(path.c_str());
    if (!reader) {
        return Fail(kUsage, "cannot read parameter file '" + path + "'");
    }

    std::printf("parameter file: %s\n", path.c_str());
    std::printf("encoding: %s\n", reader->encoding() == detail::TextEncoding::Utf8 ? "UTF-8" : "GBK");
    std::printf("entries:\n");

    Loaded loaded;
    int missing = 0;
    int malformed = 0;
    for (const detail::ParamEntry& entry : detail::ParamTable()) {
        const std::string label = "[" + Printable(entry.section) + "] " + Printable(entry.key);
        const std::string* text = reader->Find(entry.section, entry.key);
        std::string shown;
        if (text == nullptr) {
            shown = "missing";
            ++missing;
        } else if (entry.type == detail::ParamType::Int) {
            int value = 0;
            if (reader->GetInt(entry.section, entry.key, value)) {
                shown = std::to_string(value);
                (entry.target == detail::ParamTarget::ImageWidth ? loaded.imageWidth : loaded.imageHeight) = value;
            }
        } else {
            float value = 0.0f;
            if (reader->GetFloat(entry.section, entry.key, value)) {
                shown = FormatFloat(value);
                if (entry.target == detail::ParamTarget::FocalZ) {
                    loaded.focalZ = value;
                } else if (entry.target == detail::ParamTarget::MatrixElement) {
                    loaded.matrix(entry.row, entry.column) = value;
                }
            }
        }
        if (text != nullptr && shown.empty()) {
            shown = "not a number: \"" + Printable(text->c_str()) + "\"";
            ++malformed;
        }
        std::printf("  %s = %s\n", label.c_str(), shown.c_str());
    }

    std::vector<std::string> warnings;
    if (loaded.imageWidth <= 0 || loaded.imageHeight <= 0) {
        warnings.push_back("image size " + std::to_string(loaded.imageWidth) + " x " +
                           std::to_string(loaded.imageHeight) + " is not positive");
    }

    const detail::RadialSetup setup =
        detail::ComputeBarrelSetup(loaded.imageWidth, loaded.imageHeight, loaded.focalZ);
    using Outcome = detail::RadialSetup::Outcome;
    const detail::DisplaySize display = setup.outcome == Outcome::Fitted ? setup.display : detail::QueryDisplaySize();
    std::printf("display: %d x %d\n", display.width, display.height);

    if (setup.outcome == Outcome::Stopped) {
        std::printf("output image: not fitted\n");
        warnings.push_back("focal value " + FormatFloat(loaded.focalZ) + " is too short for a " +
                           std::to_string(loaded.imageWidth) + " x " + std::to_string(loaded.imageHeight) +
                           " image (corner factor " + FormatFloat(setup.cornerFactor) +
                           " < 1): the set-up stops and nothing is fitted");
    } else {
        const detail::OutputGeometry& g = setup.geometry;
        const float scale = setup.outcome == Outcome::Fitted ? g.scale : 1.0f;
        std::printf("output image: %d x %d, centre (%s, %s), scale %s%s\n", g.outWidth, g.outHeight,
                    FormatFloat(g.outCenterX).c_str(), FormatFloat(g.outCenterY).c_str(), FormatFloat(scale).c_str(),
                    setup.outcome == Outcome::Uncorrected ? " (no barrel correction)" : "");
        if (setup.outcome == Outcome::Fitted && (g.outWidth <= 0 || g.outHeight <= 0)) {
            warnings.push_back("the corrected image has no usable size: the focal value sits on the image's "
                               "singular radius");
        } else {
            const cv::Matx33f& m = loaded.matrix;
            const int corners[4][2] = {{0, 0}, {g.outWidth, 0}, {0, g.outHeight}, {g.outWidth, g.outHeight}};
            for (const auto& c : corners) {
                // The projective denominator as the chain forms it.
                const float w = static_cast<float>((m(2, 0) * static_cast<double>(c[0]) + m(2, 1) * static_cast<double>(c[1])) + m(2, 2));
                if (!(w > 0.0f)) {
                    warnings.push_back("matrix w = " + FormatFloat(w) + " at corner (" + std::to_string(c[0]) + ", " +
                                       std::to_string(c[1]) + ") of the corrected image: points there are " +
                                       (w == 0.0f || std::isnan(w) ? "lost" : "mirrored"));
                }
            }
        }
    }

    std::printf("warnings:%s\n", warnings.empty() ? " none" : "");
    for (const std::string& w : warnings) {
        std::printf("  %s\n", w.c_str());
    }
    const bool ok = missing == 0 && malformed == 0 && warnings.empty();
    std::printf("result: %s (%d missing, %d not a number, %zu warnings)\n", ok ? "OK" : "FAILED", missing, malformed,
                warnings.size());
    return ok ? kSuccess : kFinding;
}

}  // namespace quarvel::cli
