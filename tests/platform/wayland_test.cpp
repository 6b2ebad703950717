// The display size from a Wayland compositor when no X server is there:
// a headless weston the test starts itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

using quarvel::test::TempDir;

class Weston {
public:
    Weston(const std::string& runtimeDir, int width, int height) : socket_(runtimeDir + "/quarvel-test") {
        pid_ = fork();
        if (pid_ == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            const std::string w = "--width=" + std::to_string(width);
            const std::string h = "--height=" + std::to_string(height);
            execlp("weston", "weston", "--backend=headless-backend.so", w.c_str(), h.c_str(), "--socket=quarvel-test",
                   "--idle-time=0", static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!std::filesystem::exists(socket_) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // outputs announced
    }
    ~Weston() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;
    bool running() const { return std::filesystem::exists(socket_); }

private:
    pid_t pid_ = -1;
    std::string socket_;
};

TEST(Wayland, ALoadWithoutXTakesTheCompositorsOutput) {
    TempDir runtime;
    chmod(runtime.path().c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    unsetenv("DISPLAY");
    Weston weston(runtime.path().string(), 1280, 800);
    ASSERT_TRUE(weston.running()) << "weston did not start";
    setenv("WAYLAND_DISPLAY", "quarvel-test", 1);

    // 2000 x 1000 at f = 6000 corrects to about 2070 x 1035: wider than
    // 1280 x 800, so the fit shows which display it used.
    const std::string file = runtime.Write("p.ini", quarvel::test::ToGbk(quarvel::test::IniText(
        quarvel::test::CalibrationLines(2000, 1000, 6000.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"}))));
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(file));
    const quarvel::LoadReport r = q.GetLoadReport();
    EXPECT_EQ(r.display.source, quarvel::DisplaySource::WaylandOutput);
    EXPECT_EQ(r.display.width, 1280);
    EXPECT_EQ(r.display.height, 800);
    EXPECT_FALSE(r.display.name.empty());
    EXPECT_LE(r.setup.outWidth, 1280);

    const auto displays = Quarvel::ListDisplays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_TRUE(displays[0].used);
    EXPECT_EQ(displays[0].name, r.display.name);
    // WAYLAND_SOCKET is the host's: the query neither takes nor clears it.
    setenv("WAYLAND_SOCKET", "987", 1);
    ASSERT_TRUE(q.ReadIniParam(file));
    EXPECT_STREQ(std::getenv("WAYLAND_SOCKET"), "987");
    EXPECT_EQ(q.GetLoadReport().display.width, 1280);
    unsetenv("WAYLAND_SOCKET");
    unsetenv("WAYLAND_DISPLAY");
}

TEST(Wayland, CompositorsThatAreNotThereFallBack) {
    TempDir runtime;
    unsetenv("DISPLAY");
    const std::string file = runtime.Write("p.ini", quarvel::test::ToGbk(quarvel::test::IniText(
        quarvel::test::CalibrationLines(2000, 1000, 6000.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"}))));
    const auto source = [&] {
        Quarvel q;
        EXPECT_TRUE(q.ReadIniParam(file));
        return q.GetLoadReport().display.source;
    };
    // A name with no socket, an absolute path to nothing, no runtime
    // directory, a socket name too long for an address.
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("WAYLAND_DISPLAY", "nobody-here", 1);
    EXPECT_EQ(source(), quarvel::DisplaySource::Fallback);
    setenv("WAYLAND_DISPLAY", (runtime.path() / "absent").c_str(), 1);
    EXPECT_EQ(source(), quarvel::DisplaySource::Fallback);
    setenv("WAYLAND_DISPLAY", std::string(200, 'w').c_str(), 1);
    EXPECT_EQ(source(), quarvel::DisplaySource::Fallback);
    unsetenv("XDG_RUNTIME_DIR");
    setenv("WAYLAND_DISPLAY", "nobody-here", 1);
    EXPECT_EQ(source(), quarvel::DisplaySource::Fallback);
    // Something that accepts the connection but never speaks Wayland: the
    // query gives up at its deadline.
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (runtime.path() / "mute").string();
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    setenv("WAYLAND_DISPLAY", path.c_str(), 1);
    // A query that never gave up would hang here (ctest's timeout ends it).
    EXPECT_EQ(source(), quarvel::DisplaySource::Fallback);
    close(listener);
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(Quarvel::ListDisplays().size(), 1u);  // the fallback
}

}  // namespace
