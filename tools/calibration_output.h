#ifndef QUARVEL_TOOLS_CALIBRATION_OUTPUT_H
#define QUARVEL_TOOLS_CALIBRATION_OUTPUT_H

// What every calibrate mode prints and writes once it has a fit.

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>

namespace quarvel::cli {

// One row per pair (camera point, target, fitted position, residual,
// leave-one-out residual or "rejected"), then the summary line.
void PrintTable(const std::vector<PointPair>& pairs, const FitResult& fit);

// "rms R px, max M px, leave-one-out rms L px, N of T pairs used".
void PrintSummary(const FitResult& fit, std::size_t pairs);

// "focal value F (corner magnification K)" or "no barrel correction".
void PrintFocal(const FitResult& fit);

// What was fitted ("model: ..."), the expected error over the display
// ("expected error over the display: R px rms, M px max") and, above half a
// pixel, a warning that says what would help.
void PrintExpectedError(const FitResult& fit);

// The nine entries the correction does not use, read from `path` into
// `params`. The error message, or an empty string.
std::string CopyBase(const std::string& path, CalibrationParams& params);

// Writes the fitted parameters with `base`'s unused entries; prints where.
// The error message, or an empty string.
std::string WriteFitted(const FitResult& fit, const CalibrationParams& base, const std::string& output, bool utf8);

// Writes `picture` to `path`; false when it cannot.
bool WriteImage(const std::string& path, const cv::Mat& picture);

}  // namespace quarvel::cli

#endif
