#ifndef QUARVEL_TOOLS_CALIBRATE_MODES_H
#define QUARVEL_TOOLS_CALIBRATE_MODES_H

#include <string>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>
#include <quarvel/display.h>
#include <quarvel/touch.h>

namespace quarvel::cli {

// What every calibrate mode shares once the options are read.
struct CalibrateSetup {
    cv::Size image;        // --image (empty when not given)
    DisplayInfo display;   // the display the calibration is for
    std::string output;    // -o
    std::string report;    // --report ("" for none)
    CalibrationParams base;  // the unused entries, from --base
    bool utf8 = false;
    bool barrel = true;
    bool lens = true;   // false (--plain): the barrel and matrix alone
    BlobOptions blobs;  // --touch: what counts as a finger
};

// The fit's options for a camera image of `image` size.
FitOptions OptionsFor(const CalibrateSetup& setup, cv::Size image);

// The fit's table (or summary), focal value, report and file: exit 0 when
// written, 1 for an untrustworthy fit, 2 when something cannot be written.
// `report` draws the picture (null: none is asked for).
int FinishCalibration(const std::vector<PointPair>& pairs, const FitResult& fit, const CalibrateSetup& setup,
                      bool table, const cv::Mat& report);

int RunPairsMode(const std::string& source, const CalibrateSetup& setup);
int RunTargetsMode(cv::Size grid, const CalibrateSetup& setup);
int RunFrameMode(const std::string& frame, const CalibrateSetup& setup);
int RunCameraMode(const std::string& camera, const CalibrateSetup& setup);
int RunTouchMode(const std::string& camera, cv::Size grid, const CalibrateSetup& setup);

}  // namespace quarvel::cli

#endif
