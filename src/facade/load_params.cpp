// Loading parameter values that come from a fit rather than a file.

#include <quarvel/quarvel.h>

#include "facade/facade_state.h"
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
    if (state) {
        state->lens = params.lens;
    }
    quarvel::DisplayInfo display;
    const quarvel::Geometry setup = RunBarrelSetUp(&display);
    if (!state) {
        return;
    }
    try {
        auto report = std::make_shared<quarvel::LoadReport>();
        report->loaded = true;
        report->encoding = quarvel::Encoding::Utf8;
        report->displayQueried = display.width > 0;
        if (report->displayQueried) {
            report->display = display;
        }
        report->setup = setup;
        report->calibratedWidth = params.displayWidth;
        report->calibratedHeight = params.displayHeight;
        report->lens.present = params.lens.active();
        report->lens.applied = state->lensMap != nullptr;
        report->lens.form = params.lens.form;
        report->lens.residual = !params.lens.grid.empty();
        if (report->lens.present && !report->lens.applied) {
            report->lens.problem = "its values cannot be used";
        }
        state->loadReport = std::move(report);
    } catch (...) {
        state->loadReport.reset();
    }
}
