// The module's Quarvel class, with snake-case names, on numpy arrays. A
// Quarvel can be reloaded by another thread at any moment, so its members
// run under the GIL.

#include <optional>
#include <string>

#include <quarvel/quarvel.h>

#include "module_support.h"
#include "point_arrays.h"

namespace quarvel::python {
namespace {

using QuarvelClass = py::class_<Quarvel>;

py::array RenderBarrelPy(const Quarvel& q, const py::array& image, bool filled) {
    const cv::Mat view = GreyView(image);
    // Under the GIL: another thread may load this instance meanwhile.
    const cv::Mat canvas = filled ? q.RenderBarrelFilled(view) : q.RenderBarrel(view);
    if (canvas.empty()) {
        throw std::bad_alloc();
    }
    return FromCanvas(canvas);
}

Quarvel LoadOrRaise(const std::optional<std::string>& path) {
    Quarvel q;
    if (path && !q.ReadIniParam(*path)) {
        throw py::value_error("cannot read parameter file '" + *path + "'");
    }
    if (path) {
        const LoadReport report = q.GetLoadReport();
        if (!report.ok) {
            throw py::value_error("'" + *path + "' holds no usable calibration: " + report.reason);
        }
    }
    return q;
}

void AddPoints(QuarvelClass& c) {
    c.def(
         "correct_point",
         [](const Quarvel& q, std::pair<int, int> p) {
             const cv::Point r = q.CorrectPoint(cv::Point(p.first, p.second));
             return std::make_pair(r.x, r.y);
         },
         py::arg("point"), "(x, y) camera pixel -> (X, Y) display pixel, integers.")
        .def(
            "correct_point_subpixel",
            [](const Quarvel& q, std::pair<double, double> p) {
                const cv::Point2d r = q.CorrectPointSubpixel(cv::Point2d(p.first, p.second));
                return std::make_pair(r.x, r.y);
            },
            py::arg("point"), "(x, y) real camera position -> the unrounded (X, Y).")
        .def(
            "correct_points",
            [](const Quarvel& q, const py::object& points) {
                return CorrectPoints(
                    points,
                    [&q](const cv::Point* in, cv::Point* out, std::size_t n) {
                        q.CorrectPoints(reinterpret_cast<const CvPoint*>(in), reinterpret_cast<CvPoint*>(out), n);
                    },
                    [&q](const cv::Point2d& p) { return q.CorrectPointSubpixel(p); }, false);
            },
            py::arg("points"),
            "An (N, 2) or (N, 1, 2) array, or a sequence of (x, y) pairs (the layout is kept): integer dtypes "
            "give int32 results bit-identical to correct_point; float dtypes give float64 sub-pixel results.")
        .def(
            "invert_point",
            [](const Quarvel& q, std::pair<double, double> p) {
                const cv::Point2d r = q.InvertPoint(cv::Point2d(p.first, p.second));
                return std::make_pair(r.x, r.y);
            },
            py::arg("point"), "Display position -> the camera position that corrects to it (NaN where none).")
        .def(
            "invert_points",
            [](const Quarvel& q, const py::object& points) {
                return MapPoints(points, [&q](const cv::Point2d& p) { return q.InvertPoint(p); }, false);
            },
            py::arg("points"), "invert_point over an (N, 2) or (N, 1, 2) array (the layout is kept); float64.");
}

void AddPreview(QuarvelClass& c) {
    c.def(
         "render_barrel", [](const Quarvel& q, const py::array& image) { return RenderBarrelPy(q, image, false); },
         py::arg("image"),
         "Paints a (H, W) uint8 image through the calibration: a (1050, 1680) uint8 canvas (the map is cached "
         "for the next frame of the same size).")
        .def(
            "render_barrel_filled",
            [](const Quarvel& q, const py::array& image) { return RenderBarrelPy(q, image, true); }, py::arg("image"),
            "The hole-free picture: each canvas pixel sampled bilinearly where the inverse chain lands.")
        .def(
            "test_barrel_correct",
            [](Quarvel& q, const py::array& image) { q.TestBarrelCorrect(GreyView(image)); }, py::arg("image"),
            "Paints, keeps and (when a display is reachable) shows the canvas in the window 'barrel'.")
        .def(
            "get_barrel_image",
            [](const Quarvel& q) -> py::object {
                const cv::Mat canvas = q.GetBarrelImage();
                if (canvas.empty()) {
                    return py::none();
                }
                return FromCanvas(canvas);
            },
            "The last canvas test_barrel_correct kept, or None.");
}

}  // namespace

void BindQuarvel(py::module_& m) {
    QuarvelClass c(m, "Quarvel", "A loaded calibration: corrects camera points to display pixels.");
    c.def(py::init(&LoadOrRaise), py::arg("path") = py::none(),
          "Quarvel(path=None): an empty calibration, or one loaded from `path` (ValueError when the file "
          "cannot be read or holds no usable calibration; read_ini_param loads any readable file).")
        .def("__copy__", [](const Quarvel& q) { return Quarvel(q); })
        .def("read_ini_param", py::overload_cast<const std::string&>(&Quarvel::ReadIniParam), py::arg("path"),
             "Loads the parameter file; False only when it cannot be read.")
        .def("set_display_size", &Quarvel::SetDisplaySize, py::arg("width"), py::arg("height"),
             "Fixes the display size later loads fit to; (0, 0) returns to asking the platform.")
        .def("load_params", &Quarvel::LoadParams, py::arg("params"),
             "Loads parameter values without a file, then sets up as a load would.")
        .def("load_report", &Quarvel::GetLoadReport, "What the last load found (a LoadReport).")
        .def("get_model", &Quarvel::GetModel, "The loaded calibration as a Model.")
        .def_static("list_displays", &Quarvel::ListDisplays, "The displays a load could fit to.");
    AddPoints(c);
    AddPreview(c);
}

}  // namespace quarvel::python
