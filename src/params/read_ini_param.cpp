// Loading the calibration parameters from an INI file.

#include <quarvel/quarvel.h>

#include <new>

#include "params/param_table.h"
#include "platform/tabrel.h"

bool Quarvel::ReadIniParam(const char* path) {
    using quarvel::detail::ParamTarget;
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
        ComputeBarrelParam();
        return true;
    } catch (...) {
        // Only allocation can fail here, before any field has changed.
        return false;
    }
}
