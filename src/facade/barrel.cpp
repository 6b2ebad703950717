// The main chain as the class's members: thin bodies over the model's
// functions, reading the calibration record.

#include <quarvel/quarvel.h>

#include <tuple>

#include "facade/facade_state.h"
#include "facade/points.h"
#include "model/chain.h"
#include "model/lens_map.h"
#include "model/model_access.h"
#include "model/setup.h"

quarvel::Geometry Quarvel::StoredGeometry() const noexcept {
    quarvel::Geometry g;
    std::tie(g.centerX, g.centerY, g.scale, g.outWidth, g.outHeight, g.outCenterX, g.outCenterY) =
        std::tie(centerX, centerY, scale, outWidth, outHeight, outCenterX, outCenterY);
    return g;
}

void Quarvel::StoreGeometry(const quarvel::Geometry& g) noexcept {
    std::tie(centerX, centerY, scale, outWidth, outHeight, outCenterX, outCenterY) =
        std::tie(g.centerX, g.centerY, g.scale, g.outWidth, g.outHeight, g.outCenterX, g.outCenterY);
}

quarvel::CalibrationParams Quarvel::StoredParams() const noexcept {
    quarvel::CalibrationParams p;
    p.imageWidth = imageWidth;
    p.imageHeight = imageHeight;
    p.focalZ = focalZ;
    p.matrix = keyStoneMat;
    p.mapTop = mapTop;
    p.mapBottom = mapBottom;
    p.keyStoneOriginX = keyStoneOriginX;
    p.keyStoneOriginY = keyStoneOriginY;
    if (planeNormal.size() >= 3) {
        std::copy(planeNormal.begin(), planeNormal.begin() + 3, p.planeNormal);
    }
    p.rotateAngle = rotateAngle;
    p.shearX = shearX;
    if (state && state->loadReport) {
        p.displayWidth = state->loadReport->calibratedWidth;
        p.displayHeight = state->loadReport->calibratedHeight;
    }
    if (state) {
        p.lens = state->lens;
    }
    return p;
}

quarvel::DisplayInfo Quarvel::DisplayForSetUp() const noexcept {
    if (state && !state->hostDisplay.empty()) {
        quarvel::DisplayInfo host;
        host.width = state->hostDisplay.width;
        host.height = state->hostDisplay.height;
        host.source = quarvel::DisplaySource::Host;
        host.used = true;
        return host;
    }
    return quarvel::QueryDisplay();
}

quarvel::Geometry Quarvel::RunBarrelSetUp(quarvel::DisplayInfo* used) noexcept {
    // The display is asked only when there is a geometry to fit.
    quarvel::DisplayInfo display;
    if (quarvel::detail::BarrelSetupFits(imageWidth, imageHeight, focalZ)) {
        display = DisplayForSetUp();
    }
    const cv::Size size(display.width, display.height);
    const quarvel::Geometry g = quarvel::SetUpBarrel(imageWidth, imageHeight, focalZ, size, StoredGeometry());
    StoreGeometry(g);
    if (state) {
        // The lens stage's tables follow the geometry they were built for.
        try {
            state->lensMap = quarvel::detail::BuildLensMap(StoredParams(), g);
        } catch (...) {
            state->lensMap.reset();  // no memory for them: the barrel and matrix alone
        }
        if (!size.empty()) {
            state->setUpDisplay = size;
        } else if (g.outcome == quarvel::Geometry::Outcome::Uncorrected) {
            // Nothing was fitted: the display is the host's, if it named one.
            state->setUpDisplay = state->hostDisplay;
        }
        state->previews->Clear();  // the preview of the earlier calibration is dropped
    }
    if (used != nullptr) {
        *used = display;
    }
    return g;
}

void Quarvel::ComputeBarrelParam() { RunBarrelSetUp(); }

FPoint Quarvel::CorrectBarrelPoint(const CvPoint& p) const {
    return quarvel::detail::ToFPoint(
        quarvel::detail::BarrelMapping(quarvel::detail::ChainOf(focalZ, StoredGeometry(), keyStoneMat), p.x, p.y));
}

CvPoint Quarvel::CorrectKeyStonePointByMat(const FPoint& p) const {
    return quarvel::detail::ProjectToPixel(keyStoneMat, quarvel::detail::FromFPoint(p));
}

quarvel::detail::Chain Quarvel::LoadedChain() const noexcept {
    return quarvel::detail::ChainOf(focalZ, StoredGeometry(), keyStoneMat,
                                    state && state->lensMap ? state->lensMap.get() : nullptr);
}

CvPoint Quarvel::CorrectPoint(const CvPoint& p) const {
    if (state && state->lensMap) {
        return quarvel::detail::CorrectPixel(LoadedChain(), p);
    }
    return CorrectKeyStonePointByMat(CorrectBarrelPoint(p));
}

cv::Point Quarvel::CorrectPoint(const cv::Point& p) const {
    const CvPoint out = CorrectPoint(cvPoint(p.x, p.y));
    return cv::Point(out.x, out.y);
}

cv::Point2d Quarvel::CorrectPointSubpixel(const cv::Point2d& p) const {
    return quarvel::detail::CorrectSubpixel(LoadedChain(), p);
}

cv::Point2d Quarvel::InvertPoint(const cv::Point2d& display) const {
    return quarvel::detail::Invert(LoadedChain(), display);
}

void Quarvel::CorrectPoints(const CvPoint* in, CvPoint* out, std::size_t n) const {
    quarvel::detail::CorrectPixels(LoadedChain(), in, out, n);
}

bool Quarvel::CorrectPoints(cv::InputArray points, cv::OutputArray corrected) const {
    return quarvel::detail::CorrectArray(LoadedChain(), points, corrected);
}

bool Quarvel::InvertPoints(cv::InputArray display, cv::OutputArray camera) const {
    return quarvel::detail::InvertArray(LoadedChain(), display, camera);
}

quarvel::Model Quarvel::LoadedModel() const {
    quarvel::Geometry g = StoredGeometry();
    if (state && state->loadReport) {
        const quarvel::Geometry& set = state->loadReport->setup;
        g.outcome = set.outcome;
        g.cornerFactor = set.cornerFactor;
    }
    return quarvel::detail::ModelAccess::With(StoredParams(), state ? state->setUpDisplay : cv::Size(), g,
                                              state ? state->lensMap : nullptr);
}

quarvel::Model Quarvel::GetModel() const {
    const quarvel::Model loaded = LoadedModel();
    if (!loaded.display().empty()) {
        return loaded;
    }
    const quarvel::CalibrationParams& p = loaded.params();
    cv::Size display(p.displayWidth, p.displayHeight);
    if (display.width <= 0 || display.height <= 0) {
        const quarvel::DisplayInfo asked = DisplayForSetUp();
        display = cv::Size(asked.width, asked.height);
    }
    return quarvel::detail::ModelAccess::With(p, display, loaded.geometry(),
                                              quarvel::detail::ModelAccess::Lens(loaded));
}
