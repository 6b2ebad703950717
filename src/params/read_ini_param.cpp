// Loading the calibration parameters from an INI file.

#include <quarvel/quarvel.h>

#include <new>

#include "params/param_table.h"
#include "platform/tabrel.h"

bool Quarvel::ReadIniParam(const char* path) {
    using quarvel::detail::ParamTarget;
    using quarvel::detail::ParamType;
    try {
        std::shared_ptr<const quarvel::detail::CTabrel> next = quarvel::detail::CTabrel::Open(path);
        if (!next) {
            reader.reset();
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
        for (const quarvel::detail::ParamEntry& entry : quarvel::detail::ParamTable()) {
            if (entry.type == ParamType::Int) {
                int& field = entry.target == ParamTarget::ImageWidth ? imageWidth : imageHeight;
                next->GetInt(entry.section, entry.key, field);
                continue;
            }
            float* field = nullptr;
            float element = 0.0f;
            switch (entry.target) {
                case ParamTarget::FocalZ: field = &focalZ; break;
                case ParamTarget::MapTop: field = &mapTop; break;
                case ParamTarget::MapBottom: field = &mapBottom; break;
                case ParamTarget::KeyStoneOriginX: field = &keyStoneOriginX; break;
                case ParamTarget::KeyStoneOriginY: field = &keyStoneOriginY; break;
                case ParamTarget::RotateAngle: field = &rotateAngle; break;
                case ParamTarget::ShearX: field = &shearX; break;
                case ParamTarget::PlaneNormal: field = &normalComponent; break;
                case ParamTarget::MatrixElement: field = &element; break;
                case ParamTarget::ImageWidth:
                case ParamTarget::ImageHeight: break;
            }
            if (field == nullptr) {
                continue;
            }
            next->GetFloat(entry.section, entry.key, *field);
            if (entry.target == ParamTarget::PlaneNormal) {
                normal.push_back(normalComponent);
            } else if (entry.target == ParamTarget::MatrixElement) {
                // A matrix key the file lacks gives the element 0.
                keyStoneMat(entry.row, entry.column) = element;
            }
        }
        planeNormal.swap(normal);
        reader = std::move(next);
        ComputeBarrelParam();
        return true;
    } catch (...) {
        // Only allocation can fail here, before any field has changed.
        return false;
    }
}
