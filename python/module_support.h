#ifndef QUARVEL_PYTHON_MODULE_SUPPORT_H
#define QUARVEL_PYTHON_MODULE_SUPPORT_H

// What the module's parts share: numpy arrays as OpenCV images and back,
// and the fit as Python sees it.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/calibration.h>

namespace quarvel::python {

namespace py = pybind11;

// A (H, W) uint8 array as a cv::Mat header over its memory (rows may be
// strided; each row must be contiguous).
cv::Mat GreyView(const py::array& image);

// An 8-bit one-channel image as a new (H, W) uint8 array.
py::array FromCanvas(const cv::Mat& canvas);

// A camera frame, (H, W) grey or (H, W, 3|4) BGR(A) uint8 with contiguous
// rows, as a cv::Mat header over its memory.
cv::Mat FrameView(const py::array& frame);

// A types.SimpleNamespace: what a result with named fields is.
py::object Namespace();

// A size or a point as a Python pair.
inline std::pair<int, int> SizePair(cv::Size size) { return {size.width, size.height}; }
inline std::pair<double, double> PointPairOf(const cv::Point2d& p) { return {p.x, p.y}; }

// A DeprecationWarning for an old name that still works.
void Deprecated(const std::string& message);

// Pairs as an (N, 4) float64 array of rows x, y (camera), X, Y (display).
py::array PairsArray(const std::vector<PointPair>& pairs);

// What fit_calibration returns, for a fit.
py::object FitObject(const FitResult& fit);

// One class (with the small value types only it returns) per function.
void BindDisplays(py::module_& m);
void BindLoadReport(py::module_& m);
void BindLensStage(py::module_& m);
void BindCalibrationParams(py::module_& m);
void BindModel(py::module_& m);
void BindParameterFile(py::module_& m);
void BindQuarvel(py::module_& m);
void BindFit(py::module_& m);
void BindCamera(py::module_& m);
void BindTouchOptions(py::module_& m);
void BindTracker(py::module_& m);
void BindTouchCalibration(py::module_& m);

}  // namespace quarvel::python

#endif
