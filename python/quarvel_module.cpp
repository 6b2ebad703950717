// The Python module `quarvel`: the Quarvel class with snake-case names, on
// numpy arrays. Batches read their input in place when it already has the
// dtype and layout the chain takes. A Quarvel can be reloaded by another
// thread at any moment, so its members run under the GIL; a Model never
// changes, so its batches run with the GIL released.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include <quarvel/calibration.h>
#include <quarvel/quarvel.h>

#include "module_support.h"
#include "point_arrays.h"

namespace py = pybind11;

namespace {

using quarvel::python::FitObject;
using quarvel::python::FromCanvas;
using quarvel::python::GreyView;

using quarvel::python::DoubleArray;

py::array RenderBarrelPy(const Quarvel& q, const py::array& image, bool filled) {
    const cv::Mat view = GreyView(image);
    // Under the GIL: another thread may load this instance meanwhile.
    const cv::Mat canvas = filled ? q.RenderBarrelFilled(view) : q.RenderBarrel(view);
    if (canvas.empty()) {
        throw std::bad_alloc();
    }
    return FromCanvas(canvas);
}

py::object FitCalibrationPy(const py::array& pairs, std::pair<int, int> image, std::pair<int, int> display,
                            bool barrel, double outlierPixels, bool lens) {
    if (pairs.ndim() != 2 || pairs.shape(1) != 4) {
        throw py::value_error("pairs must be an (N, 4) array of x, y, X, Y");
    }
    const DoubleArray in = DoubleArray::ensure(pairs);
    if (!in) {
        throw py::type_error("pairs must be numeric");
    }
    std::vector<quarvel::PointPair> list;
    for (py::ssize_t i = 0; i < in.shape(0); ++i) {
        const double* row = in.data() + 4 * i;
        list.push_back({cv::Point2d(row[0], row[1]), cv::Point2d(row[2], row[3])});
    }
    quarvel::FitOptions options;
    options.imageWidth = image.first;
    options.imageHeight = image.second;
    options.displayWidth = display.first;
    options.displayHeight = display.second;
    options.barrel = barrel;
    options.outlierPixels = outlierPixels;
    options.lens = lens;
    quarvel::FitResult fit;
    {
        py::gil_scoped_release unlocked;
        fit = quarvel::FitCalibration(list, options);
    }
    return FitObject(fit);
}

}  // namespace

PYBIND11_MODULE(quarvel, m) {
    m.doc() =
        "Point correction for a display calibration: barrel undistortion about the camera image centre, "
        "a fit to the display and a 3x3 projective matrix, loaded from one INI parameter file.";
    m.attr("__version__") = QUARVEL_VERSION_STRING;

    py::enum_<quarvel::DisplaySource>(m, "DisplaySource", "Where a display size came from.")
        .value("HOST", quarvel::DisplaySource::Host)
        .value("RANDR_OUTPUT", quarvel::DisplaySource::RandrOutput)
        .value("X_SCREEN", quarvel::DisplaySource::XScreen)
        .value("WAYLAND_OUTPUT", quarvel::DisplaySource::WaylandOutput)
        .value("FALLBACK", quarvel::DisplaySource::Fallback);
    py::enum_<quarvel::Encoding>(m, "Encoding", "How a parameter file's bytes were read.")
        .value("GBK", quarvel::Encoding::Gbk)
        .value("UTF8", quarvel::Encoding::Utf8)
        .value("UTF16LE", quarvel::Encoding::Utf16LE)
        .value("UTF16BE", quarvel::Encoding::Utf16BE);
    py::enum_<quarvel::EntryStatus>(m, "EntryStatus")
        .value("FOUND", quarvel::EntryStatus::Found)
        .value("MISSING", quarvel::EntryStatus::Missing)
        .value("NOT_A_NUMBER", quarvel::EntryStatus::NotANumber);
    py::enum_<quarvel::SetupReport::Outcome>(m, "SetupOutcome")
        .value("NOT_RUN", quarvel::SetupReport::Outcome::NotRun)
        .value("UNCORRECTED", quarvel::SetupReport::Outcome::Uncorrected)
        .value("STOPPED", quarvel::SetupReport::Outcome::Stopped)
        .value("FITTED", quarvel::SetupReport::Outcome::Fitted);

    py::class_<quarvel::DisplayInfo>(m, "DisplayInfo", "A display size and where it came from.")
        .def_readonly("width", &quarvel::DisplayInfo::width)
        .def_readonly("height", &quarvel::DisplayInfo::height)
        .def_readonly("source", &quarvel::DisplayInfo::source)
        .def_readonly("name", &quarvel::DisplayInfo::name)
        .def_readonly("used", &quarvel::DisplayInfo::used)
        .def("__repr__", [](const quarvel::DisplayInfo& d) {
            return "DisplayInfo(" + std::to_string(d.width) + "x" + std::to_string(d.height) + ", " +
                   quarvel::ToString(d.source) + (d.name.empty() ? "" : ", " + d.name) + ")";
        });
    py::class_<quarvel::NearMiss>(m, "NearMiss", "A name in the file that almost spells an expected one.")
        .def_readonly("section", &quarvel::NearMiss::section)
        .def_readonly("key", &quarvel::NearMiss::key)
        .def_readonly("differs", &quarvel::NearMiss::differs);
    py::class_<quarvel::EntryReport>(m, "EntryReport", "One of the 21 entries as a load found it.")
        .def_readonly("section", &quarvel::EntryReport::section)
        .def_readonly("key", &quarvel::EntryReport::key)
        .def_readonly("integer", &quarvel::EntryReport::integer)
        .def_readonly("used_by_correction", &quarvel::EntryReport::usedByCorrection)
        .def_readonly("status", &quarvel::EntryReport::status)
        .def_readonly("value", &quarvel::EntryReport::value)
        .def_readonly("text", &quarvel::EntryReport::text)
        .def_readonly("near_misses", &quarvel::EntryReport::nearMisses);
    py::class_<quarvel::UnknownKey>(m, "UnknownKey")
        .def_readonly("section", &quarvel::UnknownKey::section)
        .def_readonly("key", &quarvel::UnknownKey::key);
    py::class_<quarvel::SetupReport>(m, "SetupReport", "The output geometry a load derived.")
        .def_readonly("outcome", &quarvel::SetupReport::outcome)
        .def_readonly("corner_factor", &quarvel::SetupReport::cornerFactor)
        .def_readonly("scale", &quarvel::SetupReport::scale)
        .def_readonly("out_width", &quarvel::SetupReport::outWidth)
        .def_readonly("out_height", &quarvel::SetupReport::outHeight)
        .def_readonly("out_center_x", &quarvel::SetupReport::outCenterX)
        .def_readonly("out_center_y", &quarvel::SetupReport::outCenterY)
        .def_readonly("center_x", &quarvel::SetupReport::centerX)
        .def_readonly("center_y", &quarvel::SetupReport::centerY);
    py::class_<quarvel::LensReport>(m, "LensReport", "The lens stage a file holds.")
        .def_readonly("present", &quarvel::LensReport::present)
        .def_readonly("applied", &quarvel::LensReport::applied)
        .def_readonly("residual", &quarvel::LensReport::residual)
        .def_readonly("problem", &quarvel::LensReport::problem);
    py::class_<quarvel::LoadReport>(m, "LoadReport", "What the last read_ini_param found.")
        .def_readonly("loaded", &quarvel::LoadReport::loaded)
        .def_readonly("ok", &quarvel::LoadReport::ok, "the load gives a usable calibration")
        .def_readonly("reason", &quarvel::LoadReport::reason, "why not ok")
        .def_readonly("path", &quarvel::LoadReport::path)
        .def_readonly("encoding", &quarvel::LoadReport::encoding)
        .def_readonly("entries", &quarvel::LoadReport::entries)
        .def_readonly("unknown_keys", &quarvel::LoadReport::unknownKeys)
        .def_readonly("display_queried", &quarvel::LoadReport::displayQueried)
        .def_readonly("display", &quarvel::LoadReport::display)
        .def_readonly("setup", &quarvel::LoadReport::setup)
        .def_readonly("calibrated_width", &quarvel::LoadReport::calibratedWidth)
        .def_readonly("calibrated_height", &quarvel::LoadReport::calibratedHeight)
        .def_readonly("lens", &quarvel::LoadReport::lens);

    py::class_<quarvel::CalibrationParams>(m, "CalibrationParams", "Every value of a parameter file.")
        .def(py::init<>())
        .def_readwrite("image_width", &quarvel::CalibrationParams::imageWidth)
        .def_readwrite("image_height", &quarvel::CalibrationParams::imageHeight)
        .def_readwrite("focal_z", &quarvel::CalibrationParams::focalZ)
        .def_property(
            "matrix",
            [](const quarvel::CalibrationParams& p) {
                py::array_t<float> m({3, 3});
                for (int i = 0; i < 3; ++i) {
                    for (int j = 0; j < 3; ++j) {
                        m.mutable_at(i, j) = p.matrix(i, j);
                    }
                }
                return m;
            },
            [](quarvel::CalibrationParams& p, const py::array_t<float, py::array::c_style | py::array::forcecast>& m) {
                if (m.ndim() != 2 || m.shape(0) != 3 || m.shape(1) != 3) {
                    throw py::value_error("the matrix must be 3 x 3");
                }
                for (int i = 0; i < 3; ++i) {
                    for (int j = 0; j < 3; ++j) {
                        p.matrix(i, j) = m.at(i, j);
                    }
                }
            })
        .def_readwrite("map_top", &quarvel::CalibrationParams::mapTop)
        .def_readwrite("map_bottom", &quarvel::CalibrationParams::mapBottom)
        .def_readwrite("key_stone_origin_x", &quarvel::CalibrationParams::keyStoneOriginX)
        .def_readwrite("key_stone_origin_y", &quarvel::CalibrationParams::keyStoneOriginY)
        .def_property(
            "plane_normal",
            [](const quarvel::CalibrationParams& p) {
                return std::make_tuple(p.planeNormal[0], p.planeNormal[1], p.planeNormal[2]);
            },
            [](quarvel::CalibrationParams& p, std::tuple<float, float, float> n) {
                p.planeNormal[0] = std::get<0>(n);
                p.planeNormal[1] = std::get<1>(n);
                p.planeNormal[2] = std::get<2>(n);
            })
        .def_readwrite("rotate_angle", &quarvel::CalibrationParams::rotateAngle)
        .def_readwrite("shear_x", &quarvel::CalibrationParams::shearX)
        .def_readwrite("display_width", &quarvel::CalibrationParams::displayWidth)
        .def_readwrite("display_height", &quarvel::CalibrationParams::displayHeight);

    m.def("fit_calibration", &FitCalibrationPy, py::arg("pairs"), py::arg("image"), py::arg("display"),
          py::arg("barrel") = true, py::arg("outlier_pixels") = 3.0, py::arg("lens") = true,
          "Fits focal value and matrix (and a lens stage where the pairs support one, unless lens=False) to an "
          "(N, 4) array of camera x, y and display X, Y for image=(w, h) on display=(w, h). Returns ok, reason, "
          "params, model, fitted (N, 2), residuals, leave_one_out, inliers, rms, max, leave_one_out_rms, used, "
          "expected_rms and expected_max (the error to expect over the whole display the camera sees), lens_stage.");
    m.def(
        "write_parameter_file",
        [](const std::string& path, const quarvel::CalibrationParams& params, bool utf8) {
            std::string error;
            if (!quarvel::WriteParameterFile(path, params, utf8, &error)) {
                throw py::value_error(error);
            }
        },
        py::arg("path"), py::arg("params"), py::arg("utf8") = false,
        "Writes a complete parameter file (GBK, or UTF-8); ValueError when it cannot.");
    quarvel::python::BindModel(m);
    quarvel::python::BindCamera(m);
    quarvel::python::BindTouch(m);

    py::class_<Quarvel>(m, "Quarvel", "A loaded calibration: corrects camera points to display pixels.")
        .def(py::init([](const std::optional<std::string>& path) {
                 Quarvel q;
                 if (path && !q.ReadIniParam(*path)) {
                     throw py::value_error("cannot read parameter file '" + *path + "'");
                 }
                 if (path) {
                     const quarvel::LoadReport report = q.GetLoadReport();
                     if (!report.ok) {
                         throw py::value_error("'" + *path + "' holds no usable calibration: " + report.reason);
                     }
                 }
                 return q;
             }),
             py::arg("path") = py::none(),
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
        .def_static("list_displays", &Quarvel::ListDisplays, "The displays a load could fit to.")
        .def(
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
                return quarvel::python::CorrectPoints(
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
                return quarvel::python::MapPoints(points, [&q](const cv::Point2d& p) { return q.InvertPoint(p); },
                                                  false);
            },
            py::arg("points"),
             "invert_point over an (N, 2) or (N, 1, 2) array (the layout is kept); float64.")
        .def(
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
            "get_barrel_image", [](const Quarvel& q) -> py::object {
                const cv::Mat canvas = q.GetBarrelImage();
                if (canvas.empty()) {
                    return py::none();
                }
                return FromCanvas(canvas);
            },
            "The last canvas test_barrel_correct kept, or None.");
}
