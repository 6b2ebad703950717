#include "params/load_report_builder.h"

#include "params/lens_section.h"

#include <algorithm>
#include <deque>
#include <set>
#include <utility>

#include "params/name_match.h"
#include "params/param_table.h"
#include "platform/number_text.h"
#include "platform/text_encoding.h"

namespace quarvel::detail {
namespace {

std::string Utf8(const std::string& gbk) {
    std::optional<std::string> text = GbkToUtf8(gbk);
    return text ? std::move(*text) : gbk;
}

Encoding PublicEncoding(TextEncoding e) {
    switch (e) {
        case TextEncoding::Gbk: return Encoding::Gbk;
        case TextEncoding::Utf8: return Encoding::Utf8;
        case TextEncoding::Utf16LE: return Encoding::Utf16LE;
        case TextEncoding::Utf16BE: return Encoding::Utf16BE;
    }
    return Encoding::Gbk;
}

using Name = std::pair<std::string, std::string>;  // UTF-8 (section, key)

// A name with its section and key folded for near-miss matching, folded
// when first needed (a file that holds every entry needs none).
struct Folded {
    explicit Folded(Name n) : name(std::move(n)) {}
    Name name;
    const FoldedName& section() const {
        FoldAll();
        return section_;
    }
    const FoldedName& key() const {
        FoldAll();
        return key_;
    }

private:
    void FoldAll() const {
        if (!folded_) {
            section_ = Fold(name.first);
            key_ = Fold(name.second);
            folded_ = true;
        }
    }
    mutable bool folded_ = false;
    mutable FoldedName section_;
    mutable FoldedName key_;
};

Folded FoldedOf(Name name) { return Folded(std::move(name)); }

// The 21 expected names in UTF-8, converted and folded once (before any
// thread can share them).
const std::vector<Folded>& ExpectedFolded() {
    static const std::vector<Folded> names = [] {
        std::vector<Folded> list;
        for (const ParamEntry& e : ParamTable()) {
            list.push_back(FoldedOf(Name(Utf8(e.section), Utf8(e.key))));
            (void)list.back().key();
        }
        return list;
    }();
    return names;
}

// A file's name in UTF-8 and folded: an expected one is the shared one,
// any other is converted into `owned`.
const Folded* FileName(const std::pair<std::string, std::string>& raw, std::deque<Folded>& owned) {
    const auto& table = ParamTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (raw.first == table[i].section && raw.second == table[i].key) {
            return &ExpectedFolded()[i];
        }
    }
    owned.push_back(FoldedOf(Name(Utf8(raw.first), Utf8(raw.second))));
    return &owned.back();
}

// The file's names that almost spell the expected one.
std::vector<NearMiss> NearMisses(const Folded& expected, const std::vector<const Folded*>& fileNames,
                                 std::set<Name>& claimed) {
    std::vector<NearMiss> misses;
    for (const Folded* file : fileNames) {
        const Folded& found = *file;
        if (found.key().folded != expected.key().folded) {
            continue;  // not even the key: the common case, decided cheaply
        }
        const NameDifference section = CompareNames(expected.section(), found.section());
        const NameDifference key = CompareNames(expected.key(), found.key());
        if (section.identical() && key.identical()) {
            continue;
        }
        std::string differs = DescribeDifferences(section.matches ? section : NameDifference{}, key);
        if (!section.matches) {
            differs += differs.empty() ? "another section" : ", another section";
        }
        misses.push_back(NearMiss{found.name.first, found.name.second, std::move(differs)});
        claimed.insert(found.name);
    }
    return misses;
}

}  // namespace

cv::Size CalibratedDisplay(const CTabrel& reader) noexcept {
    const std::string* text = reader.Find(kOwnSection, kCalibratedDisplayKey);
    if (text == nullptr) {
        return cv::Size();
    }
    const std::size_t x = text->find_first_of("xX");
    if (x == std::string::npos) {
        return cv::Size();
    }
    const auto width = ParseInt32(std::string_view(*text).substr(0, x));
    const auto height = ParseInt32(std::string_view(*text).substr(x + 1));
    if (width && height && *width > 0 && *height > 0) {
        return cv::Size(*width, *height);
    }
    return cv::Size();
}

LoadReport BuildLoadReport(const CTabrel& reader, const std::string& path) {
    LoadReport report;
    report.loaded = true;
    report.path = path;
    report.encoding = PublicEncoding(reader.encoding());

    std::deque<Folded> owned;
    std::vector<const Folded*> fileNames;
    for (const auto& raw : reader.Names()) {
        fileNames.push_back(FileName(raw, owned));
    }

    std::set<Name> claimed;  // UTF-8 names accounted for
    for (std::size_t index = 0; index < kParamCount; ++index) {
        const ParamEntry& e = ParamTable()[index];
        EntryReport entry;
        const Folded& expected = ExpectedFolded()[index];
        entry.section = expected.name.first;
        entry.key = expected.name.second;
        entry.integer = e.type == ParamType::Int;
        entry.usedByCorrection = UsedByCorrection(e.target);
        const std::string* text = reader.Find(e.section, e.key);
        if (text == nullptr) {
            entry.status = EntryStatus::Missing;
            entry.nearMisses = NearMisses(expected, fileNames, claimed);
        } else {
            claimed.emplace(entry.section, entry.key);
            const bool ascii = std::all_of(text->begin(), text->end(), [](char c) { return (c & 0x80) == 0; });
            entry.text = ascii ? *text : Utf8(*text);
            if (entry.integer) {
                const std::optional<int> v = ParseInt32(*text);
                entry.status = v ? EntryStatus::Found : EntryStatus::NotANumber;
                entry.value = v ? *v : 0;
            } else {
                const std::optional<float> v = ParseFloat(*text);
                entry.status = v ? EntryStatus::Found : EntryStatus::NotANumber;
                entry.value = v ? static_cast<double>(*v) : 0.0;
            }
        }
        report.entries.push_back(std::move(entry));
    }

    const std::string lensSection = Utf8(kLensSection);
    for (const Folded* f : fileNames) {
        if (f->name.first == kOwnSection || claimed.count(f->name) != 0 ||
            (f->name.first == lensSection && IsLensKey(f->name.second.c_str()))) {
            continue;
        }
        report.unknownKeys.push_back(UnknownKey{f->name.first, f->name.second});
    }
    const cv::Size calibrated = CalibratedDisplay(reader);
    report.calibratedWidth = calibrated.width;
    report.calibratedHeight = calibrated.height;
    LensStage lens;
    report.lens.present = ReadLensSection(reader, lens, report.lens.problem);
    report.lens.applied = lens.active();
    report.lens.form = lens.form;
    report.lens.residual = !lens.grid.empty();
    return report;
}

}  // namespace quarvel::detail
