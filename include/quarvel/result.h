#ifndef QUARVEL_RESULT_H
#define QUARVEL_RESULT_H

// How an operation that can fail for a reason says so, where it has no
// other result to give: ok, or not and why. Operations that do have a
// result carry the same two fields in it (FitResult, ParameterFile,
// PatternDetection, TouchFrame's status, ...).
//
//   if (const quarvel::Result written = quarvel::WriteParameterFile(path, params); !written)
//       std::cerr << written.reason << "\n";

#include <string>
#include <utility>

namespace quarvel {

struct Result {
    bool ok = true;
    std::string reason;  // why not ok, in one sentence; empty when ok

    explicit operator bool() const noexcept { return ok; }
    static Result Failed(std::string why) { return Result{false, std::move(why)}; }
};

}  // namespace quarvel

#endif
