#ifndef QUARVEL_SRC_PLATFORM_SIGPIPE_GUARD_H
#define QUARVEL_SRC_PLATFORM_SIGPIPE_GUARD_H

#include <signal.h>

namespace quarvel::detail {

// Blocks SIGPIPE in the calling thread while it lives, so that a write to a
// display server that has gone away fails with EPIPE instead of killing the
// host. A SIGPIPE raised meanwhile is consumed before the thread's mask is
// restored, unless one was already pending before (that one is the host's).
// Only the calling thread's mask changes, and only for the guard's life.
// Whether a SIGPIPE is pending for the calling thread (or the process).
bool PipePending() noexcept;

class SigpipeGuard {
public:
    SigpipeGuard() noexcept;
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t previousMask_;
    bool blocked_ = false;
    bool wasPending_ = false;
};

}  // namespace quarvel::detail

#endif
