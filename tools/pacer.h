#ifndef QUARVEL_TOOLS_PACER_H
#define QUARVEL_TOOLS_PACER_H
// Frames of a video delivered at the video's own rate, as a camera would
// deliver them (--realtime), from a given wall-clock moment (--start-at),
// so that recordings of one wall replay in step on several machines.

#include <functional>

namespace quarvel::cli {

// The wall clock, Unix seconds.
double UnixNow();

class Pacer {
public:
    // Frame n is due at `start` + n / fps (Unix seconds; NaN: now).
    Pacer(double fps, double start);
    // Waits until frame `n` is due; false when `stop` asked to end first.
    bool Wait(long long n, const std::function<bool()>& stop) const;
    double start() const noexcept { return start_; }

private:
    double fps_;
    double start_;
};

}  // namespace quarvel::cli

#endif
