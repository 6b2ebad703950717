// The calibration record: construction, copies, destruction and the zero
// test. The record's members own their resources (the matrix is a value,
// the normal list a vector, the canvas a reference-counted image, the
// reader a shared immutable object), so a copy holds the same values, no
// handle is ever released twice, and assignment to itself changes nothing.
// The extras behind `state` are copied too, except the preview cache.

#include <quarvel/quarvel.h>

#include <new>

#include "facade/facade_state.h"
#include "model/zero_test.h"
#include "platform/tabrel.h"

namespace quarvel::detail {

std::unique_ptr<FacadeState> CopyState(const FacadeState* state) noexcept {
    try {
        auto copy = std::make_unique<FacadeState>();
        if (state != nullptr) {
            copy->hostDisplay = state->hostDisplay;
            copy->setUpDisplay = state->setUpDisplay;
            copy->loadReport = state->loadReport;
            copy->lens = state->lens;
            copy->lensMap = state->lensMap;
        }
        return copy;
    } catch (...) {
        return nullptr;  // only an exhausted heap gets here
    }
}

}  // namespace quarvel::detail

Quarvel::Quarvel() : state(quarvel::detail::CopyState(nullptr)) {}

Quarvel::Quarvel(const Quarvel& other)
    : reader(other.reader),
      imageWidth(other.imageWidth),
      imageHeight(other.imageHeight),
      centerX(other.centerX),
      centerY(other.centerY),
      focalZ(other.focalZ),
      scale(other.scale),
      outCenterX(other.outCenterX),
      outCenterY(other.outCenterY),
      outWidth(other.outWidth),
      outHeight(other.outHeight),
      mapTop(other.mapTop),
      mapBottom(other.mapBottom),
      keyStoneOriginX(other.keyStoneOriginX),
      keyStoneOriginY(other.keyStoneOriginY),
      planeNormal(other.planeNormal),
      rotateAngle(other.rotateAngle),
      shearX(other.shearX),
      keyStoneMat(other.keyStoneMat),
      barrelImage(other.barrelImage),
      state(quarvel::detail::CopyState(other.state.get())) {}

Quarvel& Quarvel::operator=(const Quarvel& other) {
    if (this == &other) {
        return *this;
    }
    // What can fail (memory) happens before anything changes.
    std::vector<float> normal = other.planeNormal;
    std::unique_ptr<quarvel::detail::FacadeState> nextState = quarvel::detail::CopyState(other.state.get());
    reader = other.reader;
    imageWidth = other.imageWidth;
    imageHeight = other.imageHeight;
    centerX = other.centerX;
    centerY = other.centerY;
    focalZ = other.focalZ;
    scale = other.scale;
    outCenterX = other.outCenterX;
    outCenterY = other.outCenterY;
    outWidth = other.outWidth;
    outHeight = other.outHeight;
    mapTop = other.mapTop;
    mapBottom = other.mapBottom;
    keyStoneOriginX = other.keyStoneOriginX;
    keyStoneOriginY = other.keyStoneOriginY;
    planeNormal.swap(normal);
    rotateAngle = other.rotateAngle;
    shearX = other.shearX;
    keyStoneMat = other.keyStoneMat;
    barrelImage = other.barrelImage;
    state = std::move(nextState);
    return *this;
}

Quarvel::~Quarvel() = default;

bool Quarvel::IsZero(float v) { return quarvel::detail::IsZeroParam(v); }
