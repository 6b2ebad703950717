#include "calibration/chain_model.h"

#include <cmath>

namespace quarvel::detail {

ChainModel::ChainModel(const FitOptions& options)
    : options_(options), display_(options.displayWidth, options.displayHeight) {
    const double cx = static_cast<float>(options.imageWidth * 0.5);
    const double cy = static_cast<float>(options.imageHeight * 0.5);
    halfDiagonalSquared_ = cx * cx + cy * cy;
}

CalibrationParams ChainModel::Params(const FitVector& v, bool barrel) const {
    CalibrationParams p;
    p.imageWidth = options_.imageWidth;
    p.imageHeight = options_.imageHeight;
    p.displayWidth = options_.displayWidth;
    p.displayHeight = options_.displayHeight;
    p.focalZ = barrel && v[0] > 0.0 ? static_cast<float>(std::sqrt(halfDiagonalSquared_ / v[0])) : 0.0f;
    p.matrix = cv::Matx33f(static_cast<float>(v[1]), static_cast<float>(v[2]), static_cast<float>(v[3]),
                           static_cast<float>(v[4]), static_cast<float>(v[5]), static_cast<float>(v[6]),
                           static_cast<float>(v[7]), static_cast<float>(v[8]), 1.0f);
    return p;
}

void ChainModel::Correct(const CalibrationParams& params, const std::vector<cv::Point2d>& camera,
                         std::vector<cv::Point2d>& out) const {
    const Model model = ModelOf(params);
    out.resize(camera.size());
    for (std::size_t i = 0; i < camera.size(); ++i) {
        out[i] = model.CorrectPointSubpixel(camera[i]);
    }
}

void ChainModel::BarrelOutput(double kappa, bool barrel, const std::vector<cv::Point2d>& camera,
                              std::vector<cv::Point2d>& out) const {
    const FitVector v(kappa, 1, 0, 0, 0, 1, 0, 0, 0);
    Correct(Params(v, barrel), camera, out);
}

}  // namespace quarvel::detail
