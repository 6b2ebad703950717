// The module's report types: where a display size came from, and what a
// load found in a parameter file.

#include <string>

#include <quarvel/display.h>
#include <quarvel/load_report.h>

#include "module_support.h"

namespace quarvel::python {

void BindDisplays(py::module_& m) {
    py::enum_<DisplaySource>(m, "DisplaySource", "Where a display size came from.")
        .value("HOST", DisplaySource::Host)
        .value("RANDR_OUTPUT", DisplaySource::RandrOutput)
        .value("X_SCREEN", DisplaySource::XScreen)
        .value("WAYLAND_OUTPUT", DisplaySource::WaylandOutput)
        .value("FALLBACK", DisplaySource::Fallback);
    py::class_<DisplayInfo>(m, "DisplayInfo", "A display size and where it came from.")
        .def_readonly("width", &DisplayInfo::width)
        .def_readonly("height", &DisplayInfo::height)
        .def_readonly("source", &DisplayInfo::source)
        .def_readonly("name", &DisplayInfo::name)
        .def_readonly("used", &DisplayInfo::used)
        .def("__repr__", [](const DisplayInfo& d) {
            return "DisplayInfo(" + std::to_string(d.width) + "x" + std::to_string(d.height) + ", " +
                   ToString(d.source) + (d.name.empty() ? "" : ", " + d.name) + ")";
        });
}

// The entries of a load report, one by one.
void BindEntries(py::module_& m) {
    py::enum_<Encoding>(m, "Encoding", "How a parameter file's bytes were read.")
        .value("GBK", Encoding::Gbk)
        .value("UTF8", Encoding::Utf8)
        .value("UTF16LE", Encoding::Utf16LE)
        .value("UTF16BE", Encoding::Utf16BE);
    py::enum_<EntryStatus>(m, "EntryStatus")
        .value("FOUND", EntryStatus::Found)
        .value("MISSING", EntryStatus::Missing)
        .value("NOT_A_NUMBER", EntryStatus::NotANumber);
    py::class_<NearMiss>(m, "NearMiss", "A name in the file that almost spells an expected one.")
        .def_readonly("section", &NearMiss::section)
        .def_readonly("key", &NearMiss::key)
        .def_readonly("differs", &NearMiss::differs);
    py::class_<EntryReport>(m, "EntryReport", "One of the 21 entries as a load found it.")
        .def_readonly("section", &EntryReport::section)
        .def_readonly("key", &EntryReport::key)
        .def_readonly("integer", &EntryReport::integer)
        .def_readonly("used_by_correction", &EntryReport::usedByCorrection)
        .def_readonly("status", &EntryReport::status)
        .def_readonly("value", &EntryReport::value)
        .def_readonly("text", &EntryReport::text)
        .def_readonly("near_misses", &EntryReport::nearMisses);
    py::class_<UnknownKey>(m, "UnknownKey")
        .def_readonly("section", &UnknownKey::section)
        .def_readonly("key", &UnknownKey::key);
}

void BindLoadReport(py::module_& m) {
    BindEntries(m);
    py::enum_<SetupReport::Outcome>(m, "SetupOutcome")
        .value("NOT_RUN", SetupReport::Outcome::NotRun)
        .value("UNCORRECTED", SetupReport::Outcome::Uncorrected)
        .value("STOPPED", SetupReport::Outcome::Stopped)
        .value("FITTED", SetupReport::Outcome::Fitted);
    py::class_<SetupReport>(m, "SetupReport", "The output geometry a load derived.")
        .def_readonly("outcome", &SetupReport::outcome)
        .def_readonly("corner_factor", &SetupReport::cornerFactor)
        .def_readonly("scale", &SetupReport::scale)
        .def_readonly("out_width", &SetupReport::outWidth)
        .def_readonly("out_height", &SetupReport::outHeight)
        .def_readonly("out_center_x", &SetupReport::outCenterX)
        .def_readonly("out_center_y", &SetupReport::outCenterY)
        .def_readonly("center_x", &SetupReport::centerX)
        .def_readonly("center_y", &SetupReport::centerY);
    // The set-up's result is the load report's SetupReport (one C++ type).
    m.attr("Geometry") = m.attr("SetupReport");
    py::class_<LensReport>(m, "LensReport", "The lens stage a file holds.")
        .def_readonly("present", &LensReport::present)
        .def_readonly("applied", &LensReport::applied)
        .def_readonly("residual", &LensReport::residual)
        .def_readonly("problem", &LensReport::problem);
    py::class_<LoadReport>(m, "LoadReport", "What a load found.")
        .def_readonly("loaded", &LoadReport::loaded)
        .def_readonly("ok", &LoadReport::ok, "the load gives a usable calibration")
        .def_readonly("reason", &LoadReport::reason, "why not ok")
        .def_readonly("path", &LoadReport::path)
        .def_readonly("encoding", &LoadReport::encoding)
        .def_readonly("entries", &LoadReport::entries)
        .def_readonly("unknown_keys", &LoadReport::unknownKeys)
        .def_readonly("display_queried", &LoadReport::displayQueried)
        .def_readonly("display", &LoadReport::display)
        .def_readonly("setup", &LoadReport::setup)
        .def_readonly("calibrated_width", &LoadReport::calibratedWidth)
        .def_readonly("calibrated_height", &LoadReport::calibratedHeight)
        .def_readonly("lens", &LoadReport::lens);
}

}  // namespace quarvel::python
