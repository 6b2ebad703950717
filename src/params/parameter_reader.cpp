// Reading a parameter file's values.

#include "params/parameter_reader.h"

#include <quarvel/parameter_file.h>

#include "params/load_report_builder.h"
#include "params/lens_section.h"
#include "params/param_table.h"
#include "params/usability.h"

namespace quarvel::detail {

void ReadParameters(const CTabrel& reader, CalibrationParams& params) noexcept {
    int normalIndex = 0;
    float normalComponent = 0.0f;
    for (const ParamEntry& e : ParamTable()) {
        switch (e.target) {
            case ParamTarget::ImageWidth: reader.GetInt(e.section, e.key, params.imageWidth); break;
            case ParamTarget::ImageHeight: reader.GetInt(e.section, e.key, params.imageHeight); break;
            case ParamTarget::FocalZ: reader.GetFloat(e.section, e.key, params.focalZ); break;
            case ParamTarget::MapTop: reader.GetFloat(e.section, e.key, params.mapTop); break;
            case ParamTarget::MapBottom: reader.GetFloat(e.section, e.key, params.mapBottom); break;
            case ParamTarget::KeyStoneOriginX: reader.GetFloat(e.section, e.key, params.keyStoneOriginX); break;
            case ParamTarget::KeyStoneOriginY: reader.GetFloat(e.section, e.key, params.keyStoneOriginY); break;
            case ParamTarget::RotateAngle: reader.GetFloat(e.section, e.key, params.rotateAngle); break;
            case ParamTarget::ShearX: reader.GetFloat(e.section, e.key, params.shearX); break;
            case ParamTarget::PlaneNormal:
                reader.GetFloat(e.section, e.key, normalComponent);
                params.planeNormal[normalIndex++ % 3] = normalComponent;
                break;
            case ParamTarget::MatrixElement: {
                // A matrix key the file lacks gives the element 0.
                float element = 0.0f;
                reader.GetFloat(e.section, e.key, element);
                params.matrix(e.row, e.column) = element;
                break;
            }
        }
    }
    const cv::Size recorded = CalibratedDisplay(reader);
    if (!recorded.empty()) {
        params.displayWidth = recorded.width;
        params.displayHeight = recorded.height;
    }
    // The lens stage belongs to the file as a whole: one without the
    // section (or with one that cannot be used) has none.
    std::string problem;
    ReadLensSection(reader, params.lens, problem);
}

}  // namespace quarvel::detail

namespace quarvel {

ParameterFile ReadParameterFile(const std::string& path, const CalibrationParams& base) {
    ParameterFile file;
    file.params = base;
    try {
        const std::unique_ptr<detail::CTabrel> reader = detail::CTabrel::Open(path.c_str());
        file.report.path = path;
        if (!reader) {
            file.reason = "the file cannot be read (not a readable regular file of at most 1 MiB)";
            file.report.reason = file.reason;
            return file;
        }
        detail::ReadParameters(*reader, file.params);
        file.report = detail::BuildLoadReport(*reader, path);
        detail::JudgeLoad(file.report, Model(file.params));
        file.read = true;
        file.ok = file.report.ok;
        file.reason = file.report.reason;
    } catch (...) {
        // Only memory can run out here: nothing was read.
        file = ParameterFile{};
        file.params = base;
        file.reason = "out of memory while reading the file";
    }
    return file;
}

}  // namespace quarvel
