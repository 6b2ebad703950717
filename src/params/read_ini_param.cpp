// Loading the calibration parameters from an INI file.

#include <quarvel/quarvel.h>

#include <new>

#include "correction/radial_setup.h"
#include "params/load_report_builder.h"
#include "params/param_table.h"
#include "platform/tabrel.h"

namespace {

quarvel::SetupReport::Outcome ReportedOutcome(quarvel::detail::RadialSetup::Outcome outcome) {
    using Outcome = quarvel::detail::RadialSetup::Outcome;
    switch (outcome) {
        case Outcome::Uncorrected: return quarvel::SetupReport::Outcome::Uncorrected;
        case Outcome::Stopped: return quarvel::SetupReport::Outcome::Stopped;
        case Outcome::Fitted: return quarvel::SetupReport::Outcome::Fitted;
    }
    return quarvel::SetupReport::Outcome::NotRun;
}

// The report of a load that found no readable file.
std::shared_ptr<const quarvel::LoadReport> FailedLoad(const char* path) noexcept {
    try {
        auto report = std::make_shared<quarvel::LoadReport>();
        report->path = path != nullptr ? path : "";
        return report;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

bool Quarvel::ReadIniParam(const std::string& path) { return ReadIniParam(path.c_str()); }

bool Quarvel::ReadIniParam(const char* path) {
    using quarvel::detail::ParamTarget;
    try {
        std::shared_ptr<const quarvel::detail::CTabrel> next = quarvel::detail::CTabrel::Open(path);
        if (!next) {
            reader.reset();
            loadReport = FailedLoad(path);
            return false;
        }
        // A reload replaces the normal vector rather than appending to the
        // one already loaded. The list is prepared before any field changes,
        // so an allocation failure leaves the instance as it was.
        std::vector<float> normal;
        normal.reserve(3);

        // One temporary serves all three normal components and is not reset
        // between them: a component the file lacks repeats the one before.
        float normalComponent = 0.0f;
        for (const quarvel::detail::ParamEntry& e : quarvel::detail::ParamTable()) {
            switch (e.target) {
                case ParamTarget::ImageWidth: next->GetInt(e.section, e.key, imageWidth); break;
                case ParamTarget::ImageHeight: next->GetInt(e.section, e.key, imageHeight); break;
                case ParamTarget::FocalZ: next->GetFloat(e.section, e.key, focalZ); break;
                case ParamTarget::MapTop: next->GetFloat(e.section, e.key, mapTop); break;
                case ParamTarget::MapBottom: next->GetFloat(e.section, e.key, mapBottom); break;
                case ParamTarget::KeyStoneOriginX: next->GetFloat(e.section, e.key, keyStoneOriginX); break;
                case ParamTarget::KeyStoneOriginY: next->GetFloat(e.section, e.key, keyStoneOriginY); break;
                case ParamTarget::RotateAngle: next->GetFloat(e.section, e.key, rotateAngle); break;
                case ParamTarget::ShearX: next->GetFloat(e.section, e.key, shearX); break;
                case ParamTarget::PlaneNormal:
                    next->GetFloat(e.section, e.key, normalComponent);
                    normal.push_back(normalComponent);
                    break;
                case ParamTarget::MatrixElement: {
                    // A matrix key the file lacks gives the element 0.
                    float element = 0.0f;
                    next->GetFloat(e.section, e.key, element);
                    keyStoneMat(e.row, e.column) = element;
                    break;
                }
            }
        }
        planeNormal.swap(normal);
        reader = std::move(next);
        const quarvel::detail::RadialSetup setup = SetUpBarrel();
        try {
            quarvel::SetupReport stored;
            stored.outcome = ReportedOutcome(setup.outcome);
            stored.cornerFactor = setup.cornerFactor;
            stored.scale = scale;
            stored.outWidth = outWidth;
            stored.outHeight = outHeight;
            stored.outCenterX = outCenterX;
            stored.outCenterY = outCenterY;
            loadReport = std::make_shared<const quarvel::LoadReport>(
                quarvel::detail::BuildLoadReport(*reader, path, setup, stored));
        } catch (...) {
            loadReport.reset();  // the load itself stands; only its report is lost
        }
        return true;
    } catch (...) {
        // Only allocation can fail here, before any field has changed.
        return false;
    }
}
