#include "platform/sigpipe_guard.h"

#include <cerrno>
#include <ctime>

#include <pthread.h>

namespace quarvel::detail {
namespace {

sigset_t PipeSet() noexcept {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

}  // namespace

bool PipePending() noexcept {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

SigpipeGuard::SigpipeGuard() noexcept {
    sigemptyset(&previousMask_);
    const sigset_t pipe = PipeSet();
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe, &previousMask_) == 0;
    wasPending_ = blocked_ && PipePending();
}

SigpipeGuard::~SigpipeGuard() {
    if (!blocked_) {
        return;
    }
    if (!wasPending_) {
        const sigset_t pipe = PipeSet();
        const timespec now{0, 0};
        while (PipePending()) {
            if (sigtimedwait(&pipe, nullptr, &now) < 0 && errno != EINTR) {
                break;
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

}  // namespace quarvel::detail
