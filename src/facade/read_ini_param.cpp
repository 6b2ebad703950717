// Loading the calibration parameters from an INI file into the record.

#include <quarvel/quarvel.h>

#include <new>
#include <tuple>

#include "facade/facade_state.h"
#include "params/load_report_builder.h"
#include "params/parameter_reader.h"
#include "platform/tabrel.h"

namespace {

// The report of a load that found no readable file.
std::shared_ptr<const quarvel::LoadReport> FailedLoad(const char* path) noexcept {
    try {
        auto report = std::make_shared<quarvel::LoadReport>();
        report->path = path != nullptr ? path : "";
        report->reason = "the file cannot be read (not a readable regular file of at most 1 MiB)";
        return report;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

bool Quarvel::ReadIniParam(const std::string& path) { return ReadIniParam(path.c_str()); }

bool Quarvel::ReadIniParam(const char* path) {
    try {
        std::shared_ptr<const quarvel::detail::CTabrel> next = quarvel::detail::CTabrel::Open(path);
        if (!next) {
            reader.reset();
            if (state) {
                state->loadReport = FailedLoad(path);
            }
            return false;
        }
        // The values over the record's own: what the file lacks keeps its
        // earlier value. The normal list is prepared before any field
        // changes, so running out of memory leaves the instance as it was.
        quarvel::CalibrationParams values = StoredParams();
        quarvel::detail::ReadParameters(*next, values);
        // A reload replaces the normal vector rather than appending to it.
        std::vector<float> normal(values.planeNormal, values.planeNormal + 3);

        std::tie(imageWidth, imageHeight, focalZ, keyStoneMat) =
            std::tie(values.imageWidth, values.imageHeight, values.focalZ, values.matrix);
        std::tie(mapTop, mapBottom, keyStoneOriginX, keyStoneOriginY, rotateAngle, shearX) =
            std::tie(values.mapTop, values.mapBottom, values.keyStoneOriginX, values.keyStoneOriginY,
                     values.rotateAngle, values.shearX);
        planeNormal.swap(normal);
        reader = std::move(next);
        if (state) {
            state->lens = values.lens;
        }

        quarvel::DisplayInfo display;
        const quarvel::Geometry setup = RunBarrelSetUp(&display);
        if (state) {
            try {
                auto report = std::make_shared<quarvel::LoadReport>(quarvel::detail::BuildLoadReport(*reader, path));
                report->setup = setup;
                report->displayQueried = display.width > 0;
                if (report->displayQueried) {
                    report->display = display;
                }
                state->loadReport = std::move(report);
            } catch (...) {
                state->loadReport.reset();  // the load itself stands; only its report is lost
            }
        }
        return true;
    } catch (...) {
        // Only allocation can fail here, before any field has changed.
        return false;
    }
}
