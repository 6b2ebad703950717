#include "module_support.h"

#include <cstring>

namespace quarvel::python {

// A (H, W) uint8 array as a cv::Mat header over its memory (rows may be
// strided; each row must be contiguous).
cv::Mat GreyView(const py::array& image) {
    if (image.ndim() != 2 || image.dtype().kind() != 'u' || image.itemsize() != 1) {
        throw py::type_error("the image must be a 2-D uint8 array (H, W)");
    }
    if (image.strides(1) != 1 || image.strides(0) < image.shape(1)) {
        throw py::value_error("the image's rows must be contiguous");
    }
    return cv::Mat(static_cast<int>(image.shape(0)), static_cast<int>(image.shape(1)), CV_8UC1,
                   const_cast<void*>(image.data()), static_cast<std::size_t>(image.strides(0)));
}

py::array FromCanvas(const cv::Mat& canvas) {
    py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(canvas.rows), static_cast<py::ssize_t>(canvas.cols)});
    for (int r = 0; r < canvas.rows; ++r) {
        std::memcpy(out.mutable_data(r, 0), canvas.ptr(r), static_cast<std::size_t>(canvas.cols));
    }
    return py::array(std::move(out));
}

// What fit_calibration returns, for a fit.
py::object FitObject(const quarvel::FitResult& fit) {
    const auto n = static_cast<py::ssize_t>(fit.pairs.size());
    py::array_t<double> fitted({n, static_cast<py::ssize_t>(2)});
    py::array_t<double> residuals(n);
    py::array_t<double> leaveOneOut(n);
    py::array_t<bool> inliers(n);
    for (py::ssize_t i = 0; i < n; ++i) {
        const quarvel::PairFit& p = fit.pairs[static_cast<std::size_t>(i)];
        fitted.mutable_at(i, 0) = p.fitted.x;
        fitted.mutable_at(i, 1) = p.fitted.y;
        residuals.mutable_at(i) = p.residual;
        leaveOneOut.mutable_at(i) = p.leaveOneOut;
        inliers.mutable_at(i) = p.inlier;
    }
    py::object result = Namespace();
    result.attr("ok") = fit.ok;
    result.attr("reason") = fit.reason;
    result.attr("params") = fit.params;
    result.attr("fitted") = fitted;
    result.attr("residuals") = residuals;
    result.attr("leave_one_out") = leaveOneOut;
    result.attr("inliers") = inliers;
    result.attr("rms") = fit.rms;
    result.attr("max") = fit.max;
    result.attr("leave_one_out_rms") = fit.leaveOneOutRms;
    result.attr("used") = fit.used;
    result.attr("model") = fit.model;
    result.attr("expected_rms") = fit.expectedRms;
    result.attr("expected_max") = fit.expectedMax;
    result.attr("lens_stage") = fit.params.lens.active();
    return result;
}

// A camera frame: (H, W), (H, W, 3) or (H, W, 4) uint8 (grey, BGR, BGRA), rows contiguous.
cv::Mat FrameView(const py::array& frame) {
    if (frame.dtype().kind() != 'u' || frame.itemsize() != 1 || (frame.ndim() != 2 && frame.ndim() != 3) ||
        (frame.ndim() == 3 && frame.shape(2) != 3 && frame.shape(2) != 4)) {
        throw py::type_error("a frame must be an (H, W) grey, (H, W, 3) BGR or (H, W, 4) BGRA uint8 array");
    }
    const py::ssize_t channels = frame.ndim() == 3 ? frame.shape(2) : 1;
    if (frame.size() == 0) {
        return cv::Mat();  // an empty frame: the library says what it makes of it
    }
    if (frame.strides(frame.ndim() - 1) != 1 || (frame.ndim() == 3 && frame.strides(1) != channels) ||
        frame.strides(0) < frame.shape(1) * channels) {
        throw py::value_error("a frame's rows must be contiguous");
    }
    return cv::Mat(static_cast<int>(frame.shape(0)), static_cast<int>(frame.shape(1)),
                   CV_8UC(static_cast<int>(channels)), const_cast<void*>(frame.data()),
                   static_cast<std::size_t>(frame.strides(0)));
}

py::object Namespace() { return py::module_::import("types").attr("SimpleNamespace")(); }

void Deprecated(const std::string& message) {
    if (PyErr_WarnEx(PyExc_DeprecationWarning, message.c_str(), 1) != 0) {
        throw py::error_already_set();  // warnings turned into errors
    }
}

py::array PairsArray(const std::vector<PointPair>& pairs) {
    py::array_t<double> out({static_cast<py::ssize_t>(pairs.size()), static_cast<py::ssize_t>(4)});
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto r = static_cast<py::ssize_t>(i);
        out.mutable_at(r, 0) = pairs[i].camera.x;
        out.mutable_at(r, 1) = pairs[i].camera.y;
        out.mutable_at(r, 2) = pairs[i].display.x;
        out.mutable_at(r, 3) = pairs[i].display.y;
    }
    return py::array(std::move(out));
}

}  // namespace quarvel::python
