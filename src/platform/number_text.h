#ifndef QUARVEL_SRC_PLATFORM_NUMBER_TEXT_H
#define QUARVEL_SRC_PLATFORM_NUMBER_TEXT_H

#include <optional>
#include <string_view>

namespace quarvel::detail {

// Parsing of parameter values, independent of the process locale: a host
// running under a decimal-comma locale still reads "1.5" as 1.5. The whole
// text must be the number; surrounding blanks are the caller's to trim.

// `s` without the blanks (space, tab, CR, VT, FF) around it: how names and
// values of a parameter file are trimmed.
std::string_view TrimBlanks(std::string_view s) noexcept;

// An optional sign and decimal digits, within the 32-bit signed range.
std::optional<int> ParseInt32(std::string_view text) noexcept;

// An optional sign, then a decimal number with an optional exponent
// ("1.5", "-.25", "3e-2"), correctly rounded to float. Values beyond the
// float range, hexadecimal forms, "inf" and "nan" are refused.
std::optional<float> ParseFloat(std::string_view text) noexcept;

// The same in double precision (the lens stage's values).
std::optional<double> ParseDouble(std::string_view text) noexcept;

}  // namespace quarvel::detail

#endif
