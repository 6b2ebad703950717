// The calibration as a value.

#include <quarvel/model.h>

#include "model/chain.h"
#include "model/lens_map.h"
#include "model/model_access.h"
#include "numeric/lens_math.h"

namespace quarvel {
namespace {

cv::Size DisplayFor(const CalibrationParams& params, cv::Size display) noexcept {
    if (display.width > 0 && display.height > 0) {
        return display;
    }
    if (params.displayWidth > 0 && params.displayHeight > 0) {
        return cv::Size(params.displayWidth, params.displayHeight);
    }
    return cv::Size(kAssumedDisplayWidth, kAssumedDisplayHeight);
}

}  // namespace

namespace detail {

Model ModelAccess::With(const CalibrationParams& params, cv::Size display, const Geometry& geometry,
                        std::shared_ptr<const LensMap> lens) {
    // Without building the tables the caller hands in.
    CalibrationParams plain = params;
    plain.lens = LensStage();
    Model m(plain, display, geometry);
    m.params_.lens = params.lens;
    m.lens_ = std::move(lens);
    return m;
}

const std::shared_ptr<const LensMap>& ModelAccess::Lens(const Model& m) noexcept { return m.lens_; }

Chain ModelAccess::ChainOf(const Model& m) noexcept {
    return detail::ChainOf(m.params().focalZ, m.geometry(), m.params().matrix, m.lens_.get());
}

std::shared_ptr<const LensMap> BuildLensMap(const CalibrationParams& params, const Geometry& geometry) {
    if (!params.lens.active() || !UsableLens(params.lens)) {
        return nullptr;
    }
    return std::make_shared<const LensMap>(params, detail::ChainOf(params.focalZ, geometry, params.matrix));
}

}  // namespace detail

namespace {

detail::Chain ChainOf(const Model& m) noexcept { return detail::ModelAccess::ChainOf(m); }

}  // namespace

Model::Model() : Model(CalibrationParams()) {}

Model::Model(const CalibrationParams& params, cv::Size display)
    : params_(params),
      display_(DisplayFor(params, display)),
      geometry_(SetUpBarrel(params.imageWidth, params.imageHeight, params.focalZ, display_)),
      lens_(detail::BuildLensMap(params_, geometry_)) {}

Model::Model(const CalibrationParams& params, cv::Size display, const Geometry& geometry)
    : params_(params), display_(display), geometry_(geometry), lens_(detail::BuildLensMap(params_, geometry_)) {}

cv::Point Model::CorrectPoint(const cv::Point& p) const noexcept {
    const CvPoint r = detail::CorrectPixel(ChainOf(*this), cvPoint(p.x, p.y));
    return cv::Point(r.x, r.y);
}

cv::Point2d Model::CorrectPointSubpixel(const cv::Point2d& p) const noexcept {
    return detail::CorrectSubpixel(ChainOf(*this), p);
}

cv::Point2d Model::InvertPoint(const cv::Point2d& display) const noexcept {
    return detail::Invert(ChainOf(*this), display);
}

void Model::CorrectPoints(const cv::Point* in, cv::Point* out, std::size_t n) const noexcept {
    static_assert(sizeof(cv::Point) == sizeof(CvPoint), "cv::Point and CvPoint share a layout");
    detail::CorrectPixels(ChainOf(*this), reinterpret_cast<const CvPoint*>(in), reinterpret_cast<CvPoint*>(out), n);
}

namespace {

constexpr const char* kPointArrays =
    "the points must be CV_32SC2, CV_32FC2 or CV_64FC2, N x 1, 1 x N or a vector";

}  // namespace

Result Model::CorrectPoints(cv::InputArray points, cv::OutputArray corrected) const {
    return detail::CorrectArray(ChainOf(*this), points, corrected) ? Result() : Result::Failed(kPointArrays);
}

Result Model::InvertPoints(cv::InputArray display, cv::OutputArray camera) const {
    return detail::InvertArray(ChainOf(*this), display, camera) ? Result() : Result::Failed(kPointArrays);
}

}  // namespace quarvel
