#ifndef QUARVEL_SRC_PARAMS_LENS_SECTION_H
#define QUARVEL_SRC_PARAMS_LENS_SECTION_H

#include <string>

#include <quarvel/lens.h>

#include "platform/tabrel.h"

namespace quarvel::detail {

// The lens stage's section name, GBK: 镜头校正参数 ("lens correction
// parameters"), beside the file's other sections.
inline constexpr const char kLensSection[] = "\xBE\xB5\xCD\xB7\xD0\xA3\xD5\xFD\xB2\xCE\xCA\xFD";

// Reads the lens section into `lens`. False when the file has none (`lens`
// is then none). True when it has one: `lens` is the stage, or none with
// `problem` saying why the section cannot be used.
bool ReadLensSection(const CTabrel& reader, LensStage& lens, std::string& problem);

// The section's text (GBK, CRLF line ends), empty for no stage.
std::string LensSectionText(const LensStage& lens);

// A key the lens section holds.
bool IsLensKey(const char* key) noexcept;

}  // namespace quarvel::detail

#endif
