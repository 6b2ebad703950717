// Loading parameter values that come from a fit rather than a file.

#include <quarvel/calibration.h>
#include <quarvel/quarvel.h>

#include "correction/radial_setup.h"
#include "platform/tabrel.h"

void Quarvel::LoadParams(const quarvel::CalibrationParams& params) {
    imageWidth = params.imageWidth;
    imageHeight = params.imageHeight;
    focalZ = params.focalZ;
    mapTop = params.mapTop;
    mapBottom = params.mapBottom;
    keyStoneOriginX = params.keyStoneOriginX;
    keyStoneOriginY = params.keyStoneOriginY;
    rotateAngle = params.rotateAngle;
    shearX = params.shearX;
    keyStoneMat = params.matrix;
    try {
        planeNormal.assign(params.planeNormal, params.planeNormal + 3);
    } catch (...) {
        planeNormal.clear();  // three floats; only an exhausted heap gets here
    }
    reader.reset();
    const quarvel::detail::RadialSetup setup = SetUpBarrel();
    try {
        auto report = std::make_shared<quarvel::LoadReport>();
        report->loaded = true;
        report->encoding = quarvel::Encoding::Utf8;
        report->displayQueried = setup.outcome == quarvel::detail::RadialSetup::Outcome::Fitted;
        if (report->displayQueried) {
            report->display = setup.displayInfo;
        }
        using Outcome = quarvel::detail::RadialSetup::Outcome;
        report->setup.outcome = setup.outcome == Outcome::Fitted      ? quarvel::SetupReport::Outcome::Fitted
                                : setup.outcome == Outcome::Stopped   ? quarvel::SetupReport::Outcome::Stopped
                                                                      : quarvel::SetupReport::Outcome::Uncorrected;
        report->setup.cornerFactor = setup.cornerFactor;
        report->setup.scale = scale;
        report->setup.outWidth = outWidth;
        report->setup.outHeight = outHeight;
        report->setup.outCenterX = outCenterX;
        report->setup.outCenterY = outCenterY;
        report->calibratedWidth = params.displayWidth;
        report->calibratedHeight = params.displayHeight;
        loadReport = std::move(report);
    } catch (...) {
        loadReport.reset();
    }
}
