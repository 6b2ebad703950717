#ifndef QUARVEL_SRC_PARAMS_NAME_MATCH_H
#define QUARVEL_SRC_PARAMS_NAME_MATCH_H

#include <string>
#include <string_view>

namespace quarvel::detail {

// How a name in a file differs from an expected one, when it differs only
// in ways a person does not see or an editor introduced: surrounding space
// (ASCII or the ideographic U+3000), full-width forms of ASCII characters
// (U+FF01-U+FF5E) and the letter case of ASCII letters. Both names UTF-8.
struct NameDifference {
    bool matches = false;  // equal once those differences are set aside
    bool space = false;
    bool width = false;
    bool letterCase = false;
    bool identical() const noexcept { return matches && !space && !width && !letterCase; }
};

// A name as the comparison sees it, worked out once per name: its code
// points with surrounding space trimmed and full-width forms made
// half-width (`halfWidth`), the same in lower case (`folded`), and whether
// the trimming and the widths changed anything.
struct FoldedName {
    std::u32string halfWidth;
    std::u32string folded;
    bool spaced = false;
    bool wide = false;
};
FoldedName Fold(std::string_view utf8);

NameDifference CompareNames(const FoldedName& expected, const FoldedName& found);

// "letter case, full-width/half-width form, surrounding space": the parts
// of both differences that apply, in that order, joined by ", ".
std::string DescribeDifferences(const NameDifference& section, const NameDifference& key);

}  // namespace quarvel::detail

#endif
