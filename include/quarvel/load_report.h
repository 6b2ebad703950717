#ifndef QUARVEL_LOAD_REPORT_H
#define QUARVEL_LOAD_REPORT_H

// What a load found: the value type behind Quarvel::GetLoadReport() and
// the report of ReadParameterFile. All names and texts are UTF-8.

#include <string>
#include <vector>

#include <quarvel/display.h>
#include <quarvel/model.h>

namespace quarvel {

// How the parameter file's bytes were read.
enum class Encoding {
    Gbk,
    Utf8,     // with a byte-order mark or valid UTF-8 throughout
    Utf16LE,  // byte-order mark FF FE
    Utf16BE,  // byte-order mark FE FF
};

// "GBK", "UTF-8", "UTF-16LE", "UTF-16BE".
inline const char* ToString(Encoding encoding) noexcept {
    switch (encoding) {
        case Encoding::Gbk: return "GBK";
        case Encoding::Utf8: return "UTF-8";
        case Encoding::Utf16LE: return "UTF-16LE";
        case Encoding::Utf16BE: return "UTF-16BE";
    }
    return "unknown";
}

enum class EntryStatus {
    Found,       // the value was read
    Missing,     // the file lacks the section or key
    NotANumber,  // the key is there but its text is not a number of the type
};

// A name in the file that is probably what an expected entry meant.
struct NearMiss {
    std::string section;  // as the file spells it
    std::string key;
    // "letter case", "full-width/half-width form", "surrounding space",
    // "another section", joined by ", " when several apply.
    std::string differs;
};

// One of the 21 entries, in the order they are read.
struct EntryReport {
    std::string section;
    std::string key;
    bool integer = false;           // read as an integer (image size), else float
    bool usedByCorrection = false;  // one of the 12 the public correction uses
    EntryStatus status = EntryStatus::Missing;
    double value = 0.0;                // Found: the value read (exactly the float or int)
    std::string text;                  // Found or NotANumber: the text in the file
    std::vector<NearMiss> nearMisses;  // Missing: names that almost match
};

// A (section, key) in the file that is none of the expected entries nor a
// near miss of one.
struct UnknownKey {
    std::string section;
    std::string key;
};

// The output geometry a set-up derived, as the record holds it after the
// load (the model's Geometry).
using SetupReport = Geometry;

// The lens stage the file holds in its own section, if any.
struct LensReport {
    bool present = false;  // the file has a lens section
    bool applied = false;  // and its stage is used in front of the barrel and matrix
    LensStage::Form form = LensStage::Form::NoStage;
    bool residual = false;  // with a residual grid
    std::string problem;    // why a section that is there is not used
};

struct LoadReport {
    bool loaded = false;  // the file was read (ReadIniParam returned true)
    // The load gives a calibration points can be corrected with: the file
    // holds the image size (positive), a lens section it has can be used,
    // and the calibration has no flaw Diagnose finds (a focal value too
    // short for the image, w not positive over it, a folded picture). A
    // file of garbage loads (loaded is true, as ReadIniParam's result) but
    // is not ok.
    bool ok = false;
    std::string reason;  // why not ok, in one sentence; empty when ok
    std::string path;
    Encoding encoding = Encoding::Gbk;
    std::vector<EntryReport> entries;  // 21 entries when loaded
    std::vector<UnknownKey> unknownKeys;
    // The display size the set-up used (displayQueried: a fitted set-up
    // asked for one; otherwise the display played no part).
    bool displayQueried = false;
    DisplayInfo display;
    SetupReport setup;
    // The display size the file was calibrated for, where it records one
    // (0 x 0 otherwise).
    int calibratedWidth = 0;
    int calibratedHeight = 0;
    // The lens stage (a file without the section: not present).
    LensReport lens;
};

}  // namespace quarvel

#endif
