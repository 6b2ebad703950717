#ifndef QUARVEL_PYTHON_TOUCH_SUPPORT_H
#define QUARVEL_PYTHON_TOUCH_SUPPORT_H

// What the touch side's bindings share: a library object with the lock
// its Python users share, and options set from keyword arguments.
//
// A TouchTracker or TouchCalibration may be shared between Python threads:
// each object has a lock of its own, taken with the GIL released, so one
// object's frames are taken one at a time while other objects (another
// camera's tracker) run in parallel.

#include <mutex>
#include <string>
#include <utility>

#include <quarvel/touch.h>

#include "module_support.h"

namespace quarvel::python {

template <typename T>
struct Shared {
    template <typename... Args>
    explicit Shared(Args&&... args) : object(std::forward<Args>(args)...) {}
    T object;
    std::mutex busy;
};

// `read(object)` under the object's lock, the GIL released meanwhile.
template <typename T, typename Read>
auto Locked(Shared<T>& shared, Read read) {
    py::gil_scoped_release unlocked;
    const std::lock_guard<std::mutex> lock(shared.busy);
    return read(shared.object);
}

// Sets each keyword argument on `options` as the attribute of that name;
// TypeError for a name it does not have.
template <typename Options>
Options WithKeywords(Options options, const py::kwargs& keywords, const char* what) {
    py::object target = py::cast(options);
    for (const auto& [name, value] : keywords) {
        const std::string key = py::str(name);
        if (!py::hasattr(target, key.c_str())) {
            throw py::type_error(std::string(what) + " has no option '" + key + "'");
        }
        py::setattr(target, key.c_str(), value);
    }
    return target.cast<Options>();
}

// Keyword arguments under older names, moved to their new ones with a
// DeprecationWarning naming `where`.
void TakeOldNames(py::kwargs& keywords, const char* where,
                  std::initializer_list<std::pair<const char*, const char*>> renamed);

void BindTouchOptions(py::module_& m);
void BindTracker(py::module_& m);
void BindTouchCalibration(py::module_& m);
void BindFusion(py::module_& m);

}  // namespace quarvel::python

#endif
