// A parameter value's text, both ways: what files, reports and the tool
// write, and what a load accepts.

#include <quarvel/parameter_file.h>

#include "numeric/arithmetic.h"
#include "platform/number_text.h"

namespace quarvel {

std::string FormatParameterValue(float value) { return detail::ShortestText(value); }

std::optional<float> ParseParameterValue(std::string_view text) { return detail::ParseFloat(detail::TrimBlanks(text)); }

std::optional<int> ParseParameterInteger(std::string_view text) { return detail::ParseInt32(detail::TrimBlanks(text)); }

}  // namespace quarvel
