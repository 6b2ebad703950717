#ifndef QUARVEL_PYTHON_POINT_ARRAYS_H
#define QUARVEL_PYTHON_POINT_ARRAYS_H

// Points between numpy and the chain: (N, 2) arrays, or (N, 1, 2) as cv2's
// functions return them, kept in the layout given (as
// cv2.perspectiveTransform does). A plain sequence of (x, y) pairs goes
// through numpy.asarray first.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::python {

namespace py = pybind11;

using IntArray = py::array_t<std::int32_t, py::array::c_style>;
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// `points` as an array of pairs; TypeError or ValueError naming what is
// wrong with it.
py::array PointArray(const py::object& points);

bool IsIntegerArray(const py::array& a);

// Integer points as C-contiguous int32 (other integer dtypes converted after
// checking that every value fits), and a fresh array of the same layout.
IntArray AsInt32Points(const py::array& a);
IntArray SameLayoutInt32(const py::array& points);
DoubleArray SameLayoutDouble(const py::array& points);

// `one` over the rows of `points` in float64, with the GIL released when
// `release` is (the object `one` reads must then not change meanwhile).
template <typename One>
py::array MapPoints(const py::object& points, One one, bool release) {
    const py::array a = PointArray(points);
    const DoubleArray in = DoubleArray::ensure(a);
    DoubleArray out = SameLayoutDouble(a);
    const double* src = in.data();
    double* dst = out.mutable_data();
    const py::ssize_t n = in.shape(0);
    std::optional<py::gil_scoped_release> unlocked;
    if (release) {
        unlocked.emplace();
    }
    for (py::ssize_t i = 0; i < n; ++i) {
        const cv::Point2d r = one(cv::Point2d(src[2 * i], src[2 * i + 1]));
        dst[2 * i] = r.x;
        dst[2 * i + 1] = r.y;
    }
    unlocked.reset();
    return py::array(std::move(out));
}

// Integer points through `batch(const cv::Point*, cv::Point*, n)` (the
// vectorised integer chain, int32 out); real ones through `one` (the
// sub-pixel chain, float64 out).
template <typename Batch, typename One>
py::array CorrectPoints(const py::object& points, Batch batch, One one, bool release) {
    const py::array a = PointArray(points);
    if (!IsIntegerArray(a)) {
        return MapPoints(a, one, release);
    }
    const IntArray in = AsInt32Points(a);
    IntArray out = SameLayoutInt32(a);
    const auto* src = reinterpret_cast<const cv::Point*>(in.data());
    auto* dst = reinterpret_cast<cv::Point*>(out.mutable_data());
    const auto n = static_cast<std::size_t>(in.shape(0));
    std::optional<py::gil_scoped_release> unlocked;
    if (release) {
        unlocked.emplace();
    }
    batch(src, dst, n);
    unlocked.reset();
    return py::array(std::move(out));
}

}  // namespace quarvel::python

#endif
