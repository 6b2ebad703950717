// The Python module `quarvel`: the library's classes and functions with
// snake-case names, on numpy arrays. Batches read their input in place
// when it already has the dtype and layout the chain takes.
//
// As in C++, a call that can fail for a reason and has a result gives it
// with ok and reason (fit_calibration, read_parameter_file,
// detect_calibration_pattern, a TouchFrame's status); arguments it cannot
// take raise TypeError or ValueError, and so does a call whose only result
// is success (write_parameter_file) or a constructor that cannot make its
// object (Quarvel(path)).

#include <pybind11/pybind11.h>

#include <quarvel/version.h>

#include "module_support.h"
#include "touch_support.h"

PYBIND11_MODULE(quarvel, m) {
    namespace python = quarvel::python;
    m.doc() =
        "Point correction for a display calibration: barrel undistortion about the camera image centre, "
        "a fit to the display and a 3x3 projective matrix, loaded from one INI parameter file; and camera "
        "touches on top of it.";
    m.attr("__version__") = QUARVEL_VERSION_STRING;
    python::BindDisplays(m);
    python::BindLoadReport(m);
    python::BindLensStage(m);
    python::BindCalibrationParams(m);
    python::BindModel(m);
    python::BindParameterFile(m);
    python::BindQuarvel(m);
    python::BindFit(m);
    python::BindCamera(m);
    python::BindTouchOptions(m);
    python::BindTracker(m);
    python::BindTouchCalibration(m);
    python::BindFusion(m);
}
