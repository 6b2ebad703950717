// quarvel check PARAMS: a calibration engineer's report on a parameter file.
// Everything it says comes from the library's own load report, so it shows
// exactly what a load does.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <quarvel/quarvel.h>

#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel check [--display WxH|NAME] PARAMS\n"
    "\n"
    "Loads the parameter file PARAMS and reports what the load found: the\n"
    "encoding it was read as; each of the 21 entries with its value, or\n"
    "\"missing\" with the names in the file that almost match (letter case,\n"
    "full-width forms, surrounding space, another section), or \"not a number\"\n"
    "with the text found; keys the file holds that are none of them; the display\n"
    "size the set-up used and where it came from; the derived output geometry;\n"
    "and warnings for what makes a calibration unusable: image dimensions that\n"
    "are not positive, a focal value too short for the image, a matrix whose w\n"
    "is zero or negative at a corner of the corrected image, a file calibrated\n"
    "for another display size. The nine entries the correction does not use\n"
    "(keystone plane, rotation, shear) are reported; their absence is a note.\n"
    "\n"
    "  --display WxH|NAME  fit to this display size or RandR/Wayland output\n"
    "\n"
    "exit status: 0 the 12 entries the correction uses present and no warning,\n"
    "             1 otherwise, 2 usage error or unreadable file\n";

// The shortest text that reads back as the same float ("0.02", not
// "0.0199999996").
std::string FormatFloat(float v) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, v);
    return std::string(text, result.ptr);
}

std::string Label(const std::string& section, const std::string& key) { return "[" + section + "] " + key; }

std::string Describe(const EntryReport& e) {
    switch (e.status) {
        case EntryStatus::Found:
            return e.integer ? std::to_string(static_cast<long long>(e.value)) : FormatFloat(static_cast<float>(e.value));
        case EntryStatus::NotANumber: {
            std::string text = "not a number: \"" + e.text + "\"";
            if (e.integer && ParseNumber(e.text)) {
                text += " (an integer is expected)";
            }
            return text;
        }
        case EntryStatus::Missing: break;
    }
    std::string text = "missing";
    for (const NearMiss& m : e.nearMisses) {
        text += "; the file has " + Label(m.section, m.key) + " (" + m.differs + ")";
    }
    if (!e.nearMisses.empty()) {
        text += ": names match exactly, letter case included";
    }
    return text;
}

std::string DisplayLine(const LoadReport& r) {
    if (!r.displayQueried) {
        return "not needed (the set-up fitted nothing)";
    }
    const DisplayInfo& d = r.display;
    std::string line = std::to_string(d.width) + " x " + std::to_string(d.height) + " (" + ToString(d.source);
    if (!d.name.empty()) {
        line += " " + d.name;
    }
    if (d.source == DisplaySource::Fallback) {
        line += ": no X server or Wayland compositor answered; choose one with --display";
    }
    return line + ")";
}

void Warn(std::vector<std::string>& warnings, const std::string& w) {
    for (const std::string& existing : warnings) {
        if (existing == w) {
            return;
        }
    }
    warnings.push_back(w);
}

}  // namespace

int RunCheck(const Args& args) {
    ParsedArgs parsed;
    if (const auto error = ParseOptions(args, {kDisplayOption}, parsed)) {
        return UsageError("check ", *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (parsed.positional.size() != 1) {
        return UsageError("check ", "check: expected exactly one PARAMS file");
    }
    const std::string path = parsed.positional[0];
    Quarvel q;
    if (const auto error = ApplyDisplayOption(parsed, q)) {
        return UsageError("check ", *error);
    }
    if (!q.ReadIniParam(path)) {
        return Fail(kUsage, "cannot read parameter file '" + path + "'");
    }
    const LoadReport r = q.GetLoadReport();

    std::printf("parameter file: %s\n", path.c_str());
    std::printf("encoding: %s\n", ToString(r.encoding));
    std::printf("entries:\n");
    int missing = 0;
    int malformed = 0;
    int usedMissing = 0;
    std::vector<std::string> notes;
    std::string unusedMissing;
    int imageSize[2] = {0, 0};
    float matrix[9] = {};
    for (std::size_t i = 0; i < r.entries.size(); ++i) {
        const EntryReport& e = r.entries[i];
        std::printf("  %s = %s\n", Label(e.section, e.key).c_str(), Describe(e).c_str());
        if (e.status != EntryStatus::Found) {
            (e.status == EntryStatus::Missing ? missing : malformed) += 1;
            if (e.usedByCorrection) {
                ++usedMissing;
            } else {
                unusedMissing += (unusedMissing.empty() ? "" : ", ") + e.key;
            }
        } else if (i < 2) {
            imageSize[i] = static_cast<int>(e.value);
        } else if (i >= 12) {
            matrix[i - 12] = static_cast<float>(e.value);
        }
    }
    if (!unusedMissing.empty()) {
        notes.push_back("not in the file, and not used by the correction: " + unusedMissing);
    }
    if (!r.unknownKeys.empty()) {
        std::printf("unknown keys:\n");
        for (const UnknownKey& k : r.unknownKeys) {
            std::printf("  %s\n", Label(k.section, k.key).c_str());
        }
    }

    std::vector<std::string> warnings;
    if (imageSize[0] <= 0 || imageSize[1] <= 0) {
        Warn(warnings, "image size " + std::to_string(imageSize[0]) + " x " + std::to_string(imageSize[1]) +
                           " is not positive");
    }
    std::printf("display: %s\n", DisplayLine(r).c_str());
    if (r.calibratedWidth > 0) {
        std::printf("calibrated for: %d x %d\n", r.calibratedWidth, r.calibratedHeight);
        if (r.displayQueried && (r.display.width != r.calibratedWidth || r.display.height != r.calibratedHeight)) {
            Warn(warnings, "the file was calibrated for a " + std::to_string(r.calibratedWidth) + " x " +
                               std::to_string(r.calibratedHeight) + " display but is loaded on " +
                               std::to_string(r.display.width) + " x " + std::to_string(r.display.height) +
                               ": the fit is only valid on the display it was made for (use --display)");
        }
    }

    using Outcome = SetupReport::Outcome;
    const SetupReport& g = r.setup;
    if (g.outcome == Outcome::Stopped) {
        std::printf("output image: not fitted\n");
        Warn(warnings, "focal value " + FormatFloat(static_cast<float>(r.entries[2].value)) + " is too short for a " +
                           std::to_string(imageSize[0]) + " x " + std::to_string(imageSize[1]) +
                           " image (corner factor " + FormatFloat(g.cornerFactor) +
                           " < 1): the set-up stops and nothing is fitted");
    } else {
        const float scale = g.outcome == Outcome::Fitted ? g.scale : 1.0f;
        std::printf("output image: %d x %d, centre (%s, %s), scale %s%s\n", g.outWidth, g.outHeight,
                    FormatFloat(g.outCenterX).c_str(), FormatFloat(g.outCenterY).c_str(), FormatFloat(scale).c_str(),
                    g.outcome == Outcome::Uncorrected ? " (no barrel correction)" : "");
        if (g.outcome == Outcome::Fitted && (g.outWidth <= 0 || g.outHeight <= 0)) {
            Warn(warnings, "the corrected image has no usable size: the focal value sits on the image's singular radius");
        } else {
            const int corners[4][2] = {{0, 0}, {g.outWidth, 0}, {0, g.outHeight}, {g.outWidth, g.outHeight}};
            std::string lost;
            std::string mirrored;
            for (const auto& c : corners) {
                // The projective denominator as the chain forms it.
                const float w = static_cast<float>(
                    (matrix[6] * static_cast<double>(c[0]) + matrix[7] * static_cast<double>(c[1])) + matrix[8]);
                if (!(w > 0.0f)) {
                    std::string& list = w == 0.0f || std::isnan(w) ? lost : mirrored;
                    list += (list.empty() ? "" : ", ") + std::string("(") + std::to_string(c[0]) + ", " +
                            std::to_string(c[1]) + ") w = " + FormatFloat(w);
                }
            }
            if (!lost.empty()) {
                Warn(warnings, "matrix w is not positive at corners of the corrected image: " + lost +
                                   ": points there are lost");
            }
            if (!mirrored.empty()) {
                Warn(warnings, "matrix w is not positive at corners of the corrected image: " + mirrored +
                                   ": points there are mirrored");
            }
        }
    }

    std::printf("warnings:%s\n", warnings.empty() ? " none" : "");
    for (const std::string& w : warnings) {
        std::printf("  %s\n", w.c_str());
    }
    if (!notes.empty()) {
        std::printf("notes:\n");
        for (const std::string& n : notes) {
            std::printf("  %s\n", n.c_str());
        }
    }
    const bool ok = usedMissing == 0 && warnings.empty();
    std::printf("result: %s (%d missing, %d not a number, %zu warning%s)\n", ok ? "OK" : "FAILED", missing, malformed,
                warnings.size(), warnings.size() == 1 ? "" : "s");
    return ok ? kSuccess : kFinding;
}

}  // namespace quarvel::cli
