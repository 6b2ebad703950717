#ifndef QUARVEL_PYTHON_MODULE_SUPPORT_H
#define QUARVEL_PYTHON_MODULE_SUPPORT_H

// What the module's parts share: numpy arrays as OpenCV images and back,
// and the fit as Python sees it.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

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

// Pairs as an (N, 4) float64 array of rows x, y (camera), X, Y (display).
py::array PairsArray(const std::vector<PointPair>& pairs);

// What fit_calibration returns, for a fit.
py::object FitObject(const FitResult& fit);

void BindModel(py::module_& m);
void BindCamera(py::module_& m);
void BindTouch(py::module_& m);

}  // namespace quarvel::python

#endif
