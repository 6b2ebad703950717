// What a load costs when the platform has no display to give: a DISPLAY
// that names no server, and one whose server was killed and left its
// socket file behind. Both fall back at once (the tests check that they
// do; this measures how fast).

#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <quarvel/quarvel.h>

namespace {

// DISPLAY set to `name` while the benchmark runs, then what it was.
class DisplayVariable {
public:
    explicit DisplayVariable(const std::string& name) {
        if (const char* before = std::getenv("DISPLAY")) {
            before_ = before;
            had_ = true;
        }
        setenv("DISPLAY", name.c_str(), 1);
    }
    ~DisplayVariable() {
        if (had_) {
            setenv("DISPLAY", before_.c_str(), 1);
        } else {
            unsetenv("DISPLAY");
        }
    }

private:
    std::string before_;
    bool had_ = false;
};

void Loads(benchmark::State& state, bool hostDisplay = false) {
    const std::string path = QUARVEL_EXAMPLE_CALIBRATION;
    for (auto _ : state) {
        Quarvel q;
        if (hostDisplay) {
            q.SetDisplaySize(1920, 1080);
        }
        benchmark::DoNotOptimize(q.ReadIniParam(path.c_str()));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The baseline: the host names the display, the platform is not asked.
void BM_LoadWithHostDisplay(benchmark::State& state) { Loads(state, true); }
BENCHMARK(BM_LoadWithHostDisplay)->Unit(benchmark::kMicrosecond);

void BM_LoadDisplayNamingNoServer(benchmark::State& state) {
    const DisplayVariable display(":4711");
    Loads(state);
}
BENCHMARK(BM_LoadDisplayNamingNoServer)->Unit(benchmark::kMicrosecond);

void BM_LoadAgainstAGoneServer(benchmark::State& state) {
    // A socket file that nobody listens on: what a killed X server leaves.
    const std::string number = "4712";
    const std::string socketPath = "/tmp/.X11-unix/X" + number;
    mkdir("/tmp/.X11-unix", 01777);
    unlink(socketPath.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        state.SkipWithError("cannot leave a socket file in /tmp/.X11-unix");
        if (fd >= 0) {
            close(fd);
        }
        return;
    }
    close(fd);
    {
        const DisplayVariable display(":" + number);
        Loads(state);
    }
    unlink(socketPath.c_str());
}
BENCHMARK(BM_LoadAgainstAGoneServer)->Unit(benchmark::kMicrosecond);

}  // namespace
