#include "pacer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace quarvel::cli {

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

Pacer::Pacer(double fps, double start) : fps_(fps > 0 ? fps : 30.0), start_(std::isfinite(start) ? start : UnixNow()) {}

bool Pacer::Wait(long long n, const std::function<bool()>& stop) const {
    const double due = start_ + static_cast<double>(n) / fps_;
    for (;;) {
        if (stop()) {
            return false;
        }
        const double left = due - UnixNow();
        if (left <= 0.0) {
            return true;
        }
        // In slices, so that a stop is heard within a tenth of a second.
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, 0.1)));
    }
}

}  // namespace quarvel::cli
