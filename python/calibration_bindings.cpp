// The module's fit: camera <-> display pairs to a calibration, as in C++.

#include <quarvel/calibration.h>

#include "module_support.h"
#include "point_arrays.h"

namespace quarvel::python {
namespace {

std::vector<PointPair> PairsOf(const py::array& pairs) {
    if (pairs.ndim() != 2 || pairs.shape(1) != 4) {
        throw py::value_error("pairs must be an (N, 4) array of x, y, X, Y");
    }
    const DoubleArray in = DoubleArray::ensure(pairs);
    if (!in) {
        throw py::type_error("pairs must be numeric");
    }
    std::vector<PointPair> list;
    for (py::ssize_t i = 0; i < in.shape(0); ++i) {
        const double* row = in.data() + 4 * i;
        list.push_back({cv::Point2d(row[0], row[1]), cv::Point2d(row[2], row[3])});
    }
    return list;
}

py::object FitCalibrationPy(const py::array& pairs, std::pair<int, int> image, std::pair<int, int> display,
                            bool barrel, double outlierPixels, bool lens) {
    const std::vector<PointPair> list = PairsOf(pairs);
    FitOptions options;
    options.imageWidth = image.first;
    options.imageHeight = image.second;
    options.displayWidth = display.first;
    options.displayHeight = display.second;
    options.barrel = barrel;
    options.outlierPixels = outlierPixels;
    options.lens = lens;
    FitResult fit;
    {
        py::gil_scoped_release unlocked;
        fit = FitCalibration(list, options);
    }
    return FitObject(fit);
}

}  // namespace

void BindFit(py::module_& m) {
    m.def("fit_calibration", &FitCalibrationPy, py::arg("pairs"), py::arg("image"), py::arg("display"),
          py::arg("barrel") = true, py::arg("outlier_pixels") = 3.0, py::arg("lens") = true,
          "Fits focal value and matrix (and a lens stage where the pairs support one, unless lens=False) to an "
          "(N, 4) array of camera x, y and display X, Y for image=(w, h) on display=(w, h). Returns ok, reason, "
          "params, model, fitted (N, 2), residuals, leave_one_out, inliers, rms, max, leave_one_out_rms, used, "
          "expected_rms and expected_max (the error to expect over the whole display the camera sees), lens_stage.");
    m.def(
        "target_grid",
        [](std::pair<int, int> grid, std::pair<int, int> display) {
            py::list out;
            for (const cv::Point2d& p : TargetGrid(grid.first, grid.second, cv::Size(display.first, display.second))) {
                out.append(PointPairOf(p));
            }
            return out;
        },
        py::arg("grid"), py::arg("display"),
        "Targets on a (columns, rows) grid inset 1/8 of display=(W, H) from each edge, row by row: where the tool "
        "shows them. Empty unless columns and rows are at least 2.");
}

}  // namespace quarvel::python
