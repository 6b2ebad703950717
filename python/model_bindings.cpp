// The module's calibration as a value: its parameters, Model, the
// parameter file both ways and the diagnosis, as in C++. A Model never
// changes once made, so its batches release the GIL.

#include <string>

#include <quarvel/model.h>
#include <quarvel/parameter_file.h>

#include "module_support.h"
#include "point_arrays.h"

namespace quarvel::python {
namespace {

const char* FlawName(Flaw::Kind kind) {
    switch (kind) {
        case Flaw::Kind::FocalTooShort: return "focal_too_short";
        case Flaw::Kind::NoFiniteBarrel: return "no_finite_barrel";
        case Flaw::Kind::PointsLost: return "points_lost";
        case Flaw::Kind::PointsMirrored: return "points_mirrored";
        case Flaw::Kind::Folded: return "folded";
    }
    return "folded";
}

cv::Size SizeOf(const std::optional<std::pair<int, int>>& display) {
    return display ? cv::Size(display->first, display->second) : cv::Size();
}

py::array_t<float> MatrixOf(const CalibrationParams& p) {
    py::array_t<float> m({3, 3});
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m.mutable_at(i, j) = p.matrix(i, j);
        }
    }
    return m;
}

void SetMatrix(CalibrationParams& p, const py::array_t<float, py::array::c_style | py::array::forcecast>& m) {
    if (m.ndim() != 2 || m.shape(0) != 3 || m.shape(1) != 3) {
        throw py::value_error("the matrix must be 3 x 3");
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            p.matrix(i, j) = m.at(i, j);
        }
    }
}

}  // namespace

void BindLensStage(py::module_& m) {
    py::class_<LensStage>(m, "LensStage",
                          "The lens stage in front of the barrel and matrix (see the C++ header quarvel/lens.h).")
        .def(py::init<>())
        .def_property_readonly("form",
                               [](const LensStage& l) {
                                   return l.form == LensStage::Form::Polynomial ? "polynomial"
                                          : l.form == LensStage::Form::Fisheye  ? "fisheye"
                                                                                : "none";
                               })
        .def_readonly("center_x", &LensStage::centerX)
        .def_readonly("center_y", &LensStage::centerY)
        .def_readonly("focal", &LensStage::focal)
        .def_property_readonly("k", [](const LensStage& l) { return std::make_tuple(l.k[0], l.k[1], l.k[2], l.k[3]); })
        .def_property_readonly("p", [](const LensStage& l) { return std::make_pair(l.p[0], l.p[1]); })
        .def_property_readonly("homography",
                               [](const LensStage& l) {
                                   py::array_t<double> h({3, 3});
                                   for (int i = 0; i < 9; ++i) {
                                       h.mutable_at(i / 3, i % 3) = l.homography.val[i];
                                   }
                                   return h;
                               })
        .def_property_readonly("grid", [](const LensStage& l) { return std::make_pair(l.gridColumns, l.gridRows); },
                               "(columns, rows) of the residual grid; (0, 0): none")
        .def_property_readonly("active", &LensStage::active);
}

void BindCalibrationParams(py::module_& m) {
    using P = CalibrationParams;
    py::class_<P>(m, "CalibrationParams", "Every value of a parameter file.")
        .def(py::init<>())
        .def_readwrite("image_width", &P::imageWidth)
        .def_readwrite("image_height", &P::imageHeight)
        .def_readwrite("focal_z", &P::focalZ)
        .def_property("matrix", &MatrixOf, &SetMatrix)
        .def_readwrite("map_top", &P::mapTop)
        .def_readwrite("map_bottom", &P::mapBottom)
        .def_readwrite("key_stone_origin_x", &P::keyStoneOriginX)
        .def_readwrite("key_stone_origin_y", &P::keyStoneOriginY)
        .def_property(
            "plane_normal", [](const P& p) { return std::make_tuple(p.planeNormal[0], p.planeNormal[1], p.planeNormal[2]); },
            [](P& p, std::tuple<float, float, float> n) {
                p.planeNormal[0] = std::get<0>(n);
                p.planeNormal[1] = std::get<1>(n);
                p.planeNormal[2] = std::get<2>(n);
            })
        .def_readwrite("rotate_angle", &P::rotateAngle)
        .def_readwrite("shear_x", &P::shearX)
        .def_readwrite("display_width", &P::displayWidth)
        .def_readwrite("display_height", &P::displayHeight)
        .def_readwrite("lens", &P::lens, "the lens stage (form 'none': the barrel and matrix alone)");
}

void BindModel(py::module_& m) {
    py::class_<Model>(m, "Model",
                      "A calibration as a value: the parameters set up for a display. It never changes, any number "
                      "of threads may use one, and its batches release the GIL.")
        .def(py::init([](const CalibrationParams& params, const std::optional<std::pair<int, int>>& display) {
                 return Model(params, SizeOf(display));
             }),
             py::arg("params"), py::arg("display") = py::none(),
             "Model(params, display=(W, H)); without a display, the one params records, else 1680 x 1050.")
        .def_property_readonly("params", &Model::params)
        .def_property_readonly("display", [](const Model& model) { return SizePair(model.display()); })
        .def_property_readonly("geometry", &Model::geometry)
        .def_property_readonly("has_lens_stage", &Model::hasLensStage)
        .def(
            "correct_point",
            [](const Model& model, std::pair<int, int> p) {
                const cv::Point r = model.CorrectPoint(cv::Point(p.first, p.second));
                return std::make_pair(r.x, r.y);
            },
            py::arg("point"), "(x, y) camera pixel -> (X, Y) display pixel, integers.")
        .def(
            "correct_point_subpixel",
            [](const Model& model, std::pair<double, double> p) {
                return PointPairOf(model.CorrectPointSubpixel(cv::Point2d(p.first, p.second)));
            },
            py::arg("point"), "(x, y) real camera position -> the unrounded (X, Y).")
        .def(
            "correct_points",
            [](const Model& model, const py::object& points) {
                return CorrectPoints(
                    points, [&model](const cv::Point* in, cv::Point* out, std::size_t n) { model.CorrectPoints(in, out, n); },
                    [&model](const cv::Point2d& p) { return model.CorrectPointSubpixel(p); }, true);
            },
            py::arg("points"),
            "As Quarvel.correct_points: integer dtypes give int32, float dtypes float64 sub-pixel results.")
        .def(
            "invert_point",
            [](const Model& model, std::pair<double, double> p) {
                return PointPairOf(model.InvertPoint(cv::Point2d(p.first, p.second)));
            },
            py::arg("point"), "Display position -> the camera position that corrects to it (NaN where none).")
        .def(
            "invert_points",
            [](const Model& model, const py::object& points) {
                return MapPoints(points, [&model](const cv::Point2d& p) { return model.InvertPoint(p); }, true);
            },
            py::arg("points"), "invert_point over an (N, 2) or (N, 1, 2) array; float64.");
    m.def(
        "diagnose",
        [](const Model& model) {
            py::list flaws;
            for (const Flaw& f : Diagnose(model)) {
                flaws.append(py::make_tuple(FlawName(f.kind), f.message));
            }
            return flaws;
        },
        py::arg("model"),
        "What makes a calibration unusable over its camera image, as (kind, message) pairs: 'focal_too_short', "
        "'no_finite_barrel', 'points_lost', 'points_mirrored', 'folded'. Empty when it can be trusted.");
}

void BindParameterFile(py::module_& m) {
    m.def(
        "read_parameter_file",
        [](const std::string& path, const std::optional<CalibrationParams>& base) {
            const ParameterFile file = ReadParameterFile(path, base ? *base : CalibrationParams());
            py::object result = Namespace();
            result.attr("read") = file.read;
            result.attr("ok") = file.ok;
            result.attr("reason") = file.reason;
            result.attr("params") = file.params;
            result.attr("report") = file.report;
            return result;
        },
        py::arg("path"), py::arg("base") = py::none(),
        "Reads a parameter file over `base` (CalibrationParams): read (False: no readable file), ok and reason "
        "(whether it gives a usable calibration), params, report (the LoadReport). Never raises for the file's "
        "content.");
    m.def(
        "write_parameter_file",
        [](const std::string& path, const CalibrationParams& params, bool utf8) {
            const Result written = WriteParameterFile(path, params, utf8);
            if (!written) {
                throw py::value_error(written.reason);
            }
        },
        py::arg("path"), py::arg("params"), py::arg("utf8") = false,
        "Writes a complete parameter file (GBK, or UTF-8); ValueError with the reason when it cannot.");
}

}  // namespace quarvel::python
