#ifndef QUARVEL_TESTS_SUPPORT_XVFB_H
#define QUARVEL_TESTS_SUPPORT_XVFB_H

#include <sys/types.h>

#include <string>

namespace quarvel::test {

// An Xvfb server of the test's own on a free display number, killed when
// the object goes. `noreset` false gives a server that resets whenever its
// last client leaves, as Xorg does without a window manager.
class Xvfb {
public:
    Xvfb(const std::string& screen, bool noreset);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    bool running() const { return pid_ > 0; }
    const std::string& name() const { return name_; }  // ":N"
    // Kills the server at once (SIGKILL), as a crash would.
    void Kill();

private:
    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace quarvel::test

#endif
