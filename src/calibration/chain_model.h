#ifndef QUARVEL_SRC_CALIBRATION_CHAIN_MODEL_H
#define QUARVEL_SRC_CALIBRATION_CHAIN_MODEL_H

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>
#include <quarvel/model.h>

namespace quarvel::detail {

// The fit's unknowns: kappa = s / f^2 (s the squared half-diagonal of the
// camera image, so the corner magnification is 1 / (1 - kappa); 0 means
// no barrel) and the eight free matrix elements, a22 being 1.
using FitVector = cv::Vec<double, 9>;

// The correction chain as the fit sees it: parameter values in, positions
// out, always through a Model made from exactly the floats a parameter file
// would hold, on the display the calibration is for.
class ChainModel {
public:
    explicit ChainModel(const FitOptions& options);

    // The parameter values for a fit vector (rounded to the file's floats).
    CalibrationParams Params(const FitVector& v, bool barrel) const;

    // The model those values set up on the fit's display.
    Model ModelOf(const CalibrationParams& params) const { return Model(params, display_); }

    // The camera points through the chain for `params`.
    void Correct(const CalibrationParams& params, const std::vector<cv::Point2d>& camera,
                 std::vector<cv::Point2d>& out) const;

    // The camera points through the barrel step and the display fit alone
    // (the identity matrix): the points the matrix maps.
    void BarrelOutput(double kappa, bool barrel, const std::vector<cv::Point2d>& camera,
                      std::vector<cv::Point2d>& out) const;

    double halfDiagonalSquared() const { return halfDiagonalSquared_; }
    const FitOptions& options() const { return options_; }

private:
    FitOptions options_;
    cv::Size display_;
    double halfDiagonalSquared_;
};

}  // namespace quarvel::detail

#endif
