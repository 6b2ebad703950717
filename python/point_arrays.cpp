#include "point_arrays.h"

#include <limits>
#include <string>

namespace quarvel::python {
namespace {

bool IsFloatArray(const py::array& a) { return a.dtype().kind() == 'f'; }

std::vector<py::ssize_t> ShapeOf(const py::array& points) {
    return std::vector<py::ssize_t>(points.shape(), points.shape() + points.ndim());
}

}  // namespace

bool IsIntegerArray(const py::array& a) {
    const char kind = a.dtype().kind();
    return kind == 'i' || kind == 'u' || kind == 'b';
}

py::array PointArray(const py::object& points) {
    py::array a;
    if (py::isinstance<py::array>(points)) {
        a = py::reinterpret_borrow<py::array>(points);
    } else {
        try {
            a = py::module_::import("numpy").attr("asarray")(points);
        } catch (py::error_already_set&) {
            throw py::type_error("points must be an (N, 2) array or a sequence of (x, y) pairs");
        }
    }
    if (!IsIntegerArray(a) && !IsFloatArray(a)) {
        throw py::type_error("points must be an integer or float array, or a sequence of (x, y) number pairs");
    }
    const bool flat = a.ndim() == 2 && a.shape(1) == 2;
    const bool opencv = a.ndim() == 3 && a.shape(1) == 1 && a.shape(2) == 2;
    const bool none = a.ndim() == 1 && a.shape(0) == 0;  // [] : no points
    if (!flat && !opencv && !none) {
        throw py::value_error("points must be an (N, 2) or (N, 1, 2) array");
    }
    if (none) {
        return py::array(a.dtype(), std::vector<py::ssize_t>{0, 2});
    }
    return a;
}

IntArray AsInt32Points(const py::array& a) {
    if (py::isinstance<IntArray>(a) && (a.flags() & py::array::c_style) != 0) {
        return py::reinterpret_borrow<IntArray>(a);
    }
    const auto wide = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(a);
    if (!wide) {
        throw py::type_error("points must be an integer or float array");
    }
    const std::int64_t* v = wide.data();
    IntArray out = SameLayoutInt32(a);
    std::int32_t* o = out.mutable_data();
    for (py::ssize_t i = 0; i < wide.size(); ++i) {
        if (v[i] < std::numeric_limits<std::int32_t>::min() || v[i] > std::numeric_limits<std::int32_t>::max()) {
            throw py::value_error("a coordinate is outside the 32-bit range");
        }
        o[i] = static_cast<std::int32_t>(v[i]);
    }
    return out;
}

IntArray SameLayoutInt32(const py::array& points) { return IntArray(ShapeOf(points)); }
DoubleArray SameLayoutDouble(const py::array& points) { return DoubleArray(ShapeOf(points)); }

}  // namespace quarvel::python
