// The SIGPIPE guard around every display query.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include "platform/sigpipe_guard.h"

namespace {

using quarvel::detail::PipePending;

TEST(SigpipeGuard, ConsumesOnlyWhatItsScopeRaised) {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t before;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    {
        const quarvel::detail::SigpipeGuard guard;
        pthread_kill(pthread_self(), SIGPIPE);  // what a write to a dead server raises
        EXPECT_TRUE(PipePending());
    }
    // Still alive (the default action would have ended the process), nothing
    // left pending, and the mask as it was.
    EXPECT_FALSE(PipePending());
    sigset_t after;
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    EXPECT_EQ(sigismember(&after, SIGPIPE), sigismember(&before, SIGPIPE));

    // A SIGPIPE the host itself left pending (blocked) stays the host's.
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    pthread_kill(pthread_self(), SIGPIPE);
    { const quarvel::detail::SigpipeGuard guard; }
    EXPECT_TRUE(PipePending());
    const timespec now{0, 0};
    EXPECT_EQ(sigtimedwait(&pipe, nullptr, &now), SIGPIPE);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
