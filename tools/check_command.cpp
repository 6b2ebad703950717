// quarvel check PARAMS: a calibration engineer's report on a parameter file.
// Everything it says comes from the library's own load report, so it shows
// exactly what a load does.

#include <cstdio>
#include <string>
#include <vector>

#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

#include "cli_common.h"
#include "track_setup.h"
#include "wall_check.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel check [--display WxH|NAME] PARAMS\n"
    "       quarvel check [--display WxH] A.ini [--frame A.png] B.ini [--frame B.png] ... [-o COVERAGE.png]\n"
    "\n"
    "Loads the parameter file PARAMS and reports what the load found: the\n"
    "encoding it was read as; each of the 21 entries with its value, or\n"
    "\"missing\" with the names in the file that almost match (letter case,\n"
    "full-width forms, surrounding space, another section), or \"not a number\"\n"
    "with the text found; keys the file holds that are none of them; the display\n"
    "size the set-up used and where it came from; the derived output geometry;\n"
    "and warnings for what makes a calibration unusable: image dimensions that\n"
    "are not positive, a focal value too short for the image, a barrel with no\n"
    "finite value, a matrix whose w is zero or negative somewhere over the image\n"
    "(points lost or mirrored), a folded picture, a file calibrated for another\n"
    "display size, a lens section that cannot be used. The lens stage in front\n"
    "of the barrel and matrix, where the file has one, is named. The nine\n"
    "entries the correction does not use (keystone plane, rotation, shear) are\n"
    "reported; their absence is a note.\n"
    "\n"
    "  --display WxH|NAME  fit to this display size or RandR/Wayland output\n"
    "\n"
    "A wall (several PARAMS, one per camera): how much of the display at least\n"
    "one camera sees and how much two or more see, each camera's share, and each\n"
    "overlap. Where each camera's PARAMS is followed by --frame, a frame of it\n"
    "with the validation (or calibration) pattern shown on the whole display,\n"
    "each overlap also says how far the two calibrations put the targets both\n"
    "see apart (display px, rms and max): a seam over 1 px is a finding.\n"
    "-o COVERAGE.png draws the coverage, a pixel every 4 display pixels.\n"
    "\n"
    "exit status: 0 the 12 entries the correction uses present and no warning,\n"
    "             1 otherwise, 2 usage error or unreadable file\n";

std::string Label(const std::string& section, const std::string& key) { return "[" + section + "] " + key; }

std::string Describe(const EntryReport& e) {
    switch (e.status) {
        case EntryStatus::Found:
            return e.integer ? std::to_string(static_cast<long long>(e.value)) : FormatParameterValue(static_cast<float>(e.value));
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

// What check found, as it goes.
struct Findings {
    int missing = 0;
    int malformed = 0;
    int usedMissing = 0;  // of the entries the correction uses
    int imageSize[2] = {0, 0};
    std::vector<std::string> warnings;
    std::vector<std::string> notes;
};

void PrintEntries(const LoadReport& r, Findings& f) {
    std::printf("entries:\n");
    std::string unusedMissing;
    for (std::size_t i = 0; i < r.entries.size(); ++i) {
        const EntryReport& e = r.entries[i];
        std::printf("  %s = %s\n", Label(e.section, e.key).c_str(), Describe(e).c_str());
        if (e.status != EntryStatus::Found) {
            (e.status == EntryStatus::Missing ? f.missing : f.malformed) += 1;
            if (e.usedByCorrection) {
                ++f.usedMissing;
            } else {
                unusedMissing += (unusedMissing.empty() ? "" : ", ") + e.key;
            }
        } else if (i < 2) {
            f.imageSize[i] = static_cast<int>(e.value);
        }
    }
    if (!unusedMissing.empty()) {
        f.notes.push_back("not in the file, and not used by the correction: " + unusedMissing);
    }
    if (!r.unknownKeys.empty()) {
        std::printf("unknown keys:\n");
        for (const UnknownKey& k : r.unknownKeys) {
            std::printf("  %s\n", Label(k.section, k.key).c_str());
        }
    }
    if (f.imageSize[0] <= 0 || f.imageSize[1] <= 0) {
        Warn(f.warnings, "image size " + std::to_string(f.imageSize[0]) + " x " + std::to_string(f.imageSize[1]) +
                             " is not positive");
    }
}

void PrintDisplay(const ParsedArgs& parsed, const LoadReport& r, Findings& f) {
    std::printf("display: %s\n", DisplayLine(r).c_str());
    if (r.calibratedWidth <= 0) {
        return;
    }
    std::printf("calibrated for: %d x %d\n", r.calibratedWidth, r.calibratedHeight);
    // Without a barrel the set-up asks no display, but the points still
    // land on one: the display named, else the platform's.
    DisplayInfo target = r.display;
    const bool known =
        r.displayQueried || (!ResolveDisplay(parsed, target) && target.source != DisplaySource::Fallback);
    if (known && (target.width != r.calibratedWidth || target.height != r.calibratedHeight)) {
        Warn(f.warnings, "the file was calibrated for a " + std::to_string(r.calibratedWidth) + " x " +
                             std::to_string(r.calibratedHeight) + " display but is loaded on " +
                             std::to_string(target.width) + " x " + std::to_string(target.height) +
                             ": the fit is only valid on the display it was made for (use --display)");
    }
}

void PrintGeometryAndLens(const LoadReport& r, Findings& f) {
    using Outcome = SetupReport::Outcome;
    const SetupReport& g = r.setup;
    if (g.outcome == Outcome::Stopped) {
        std::printf("output image: not fitted\n");
    } else {
        const float scale = g.outcome == Outcome::Fitted ? g.scale : 1.0f;
        std::printf("output image: %d x %d, centre (%s, %s), scale %s%s\n", g.outWidth, g.outHeight,
                    FormatParameterValue(g.outCenterX).c_str(), FormatParameterValue(g.outCenterY).c_str(),
                    FormatParameterValue(scale).c_str(), g.outcome == Outcome::Uncorrected ? " (no barrel correction)" : "");
    }
    const LensReport& lens = r.lens;
    if (!lens.present) {
        std::printf("lens stage: none (the barrel and matrix alone)\n");
    } else if (lens.applied) {
        std::printf("lens stage: %s%s, in front of the barrel and matrix (a reader of the original sections alone "
                    "corrects without it)\n",
                    lens.form == LensStage::Form::Fisheye ? "fisheye" : "polynomial",
                    lens.residual ? ", with a residual grid" : "");
    } else {
        std::printf("lens stage: not used\n");
        Warn(f.warnings, "the lens section cannot be used: " + lens.problem);
    }
}

int PrintVerdict(const Findings& f) {
    std::printf("warnings:%s\n", f.warnings.empty() ? " none" : "");
    for (const std::string& w : f.warnings) {
        std::printf("  %s\n", w.c_str());
    }
    if (!f.notes.empty()) {
        std::printf("notes:\n");
        for (const std::string& n : f.notes) {
            std::printf("  %s\n", n.c_str());
        }
    }
    const bool ok = f.usedMissing == 0 && f.warnings.empty();
    std::printf("result: %s (%d missing, %d not a number, %zu warning%s)\n", ok ? "OK" : "FAILED", f.missing,
                f.malformed, f.warnings.size(), f.warnings.size() == 1 ? "" : "s");
    return ok ? kSuccess : kFinding;
}

}  // namespace

int RunCheck(const Args& args) {
    ParsedArgs parsed;
    const std::vector<Option> known = {kDisplayOption, {"frame", 0, true}, {"output", 'o', true}};
    Args rest;
    const std::vector<WallCamera> wall = SplitCameras(args, known, {"frame"}, rest);
    if (const auto error = ParseOptions(wall.empty() ? args : rest, known, parsed)) {
        return UsageError("check ", *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    if (!wall.empty()) {
        return RunWallCheck(parsed, wall);
    }
    if (const auto error = RefuseUnused(parsed, {"frame", "output"}, "a wall (several PARAMS)")) {
        return UsageError("check ", "check: " + *error);
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
    Findings findings;
    PrintEntries(r, findings);
    PrintDisplay(parsed, r, findings);
    PrintGeometryAndLens(r, findings);
    // The library's own diagnosis of the loaded calibration: the one the
    // fit's trust checks use.
    for (const Flaw& flaw : Diagnose(q.GetModel())) {
        Warn(findings.warnings, flaw.message);
    }
    return PrintVerdict(findings);
}

}  // namespace quarvel::cli
