#include "support/xvfb.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace quarvel::test {
namespace {

bool SocketExists(int number) {
    struct stat st {};
    return stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &st) == 0 ||
           stat(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), &st) == 0;
}

}  // namespace

Xvfb::Xvfb(const std::string& screen, bool noreset) {
    int number = 300 + static_cast<int>(getpid() % 600);
    while (SocketExists(number)) {
        ++number;
    }
    name_ = ":" + std::to_string(number);
    std::vector<std::string> args = {"Xvfb", name_, "-screen", "0", screen, "-nolisten", "tcp"};
    if (noreset) {
        args.push_back("-noreset");
    }
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    struct stat st {};
    while (stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &st) != 0) {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // listening once the socket exists
}

void Xvfb::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        // A killed server leaves its socket and lock behind.
        unlink(("/tmp/.X11-unix/X" + name_.substr(1)).c_str());
        unlink(("/tmp/.X" + name_.substr(1) + "-lock").c_str());
    }
}

Xvfb::~Xvfb() { Kill(); }

}  // namespace quarvel::test
