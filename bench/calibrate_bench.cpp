// quarvel calibrate --frame on a 1920 x 1080 camera frame, as a user runs
// it: the whole process, from start to the written file. The frame is
// what the tests' simulated rig sees of the pattern.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include <quarvel/pattern.h>

#include "support/camera_rig.h"
#include "support/synthetic.h"

extern char** environ;

namespace {

// Runs the tool with `args`, its output discarded; its exit status.
int RunTool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::string tool = QUARVEL_TOOL_PATH;
    argv.push_back(tool.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_CalibrateFrameProcess(benchmark::State& state) {
    const cv::Size display(1920, 1080);
    const cv::Size camera(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const quarvel::Model truth(quarvel::test::TruthFor(1.2, camera, display, 0.04, 1.25), display);
    quarvel::test::CameraRig rig(truth, quarvel::test::RigOptions());
    const std::string dir = "/tmp/quarvel-bench-calibrate-" + std::to_string(getpid());
    const std::string frame = dir + "-frame.png";
    const std::string out = dir + ".ini";
    if (!cv::imwrite(frame, rig.See(quarvel::MakeCalibrationPattern(display.width, display.height).picture))) {
        state.SkipWithError("cannot write the frame");
        return;
    }
    const std::vector<std::string> args = {"calibrate", "--frame", frame, "--display", "1920x1080", "-o", out};
    for (auto _ : state) {
        if (RunTool(args) != 0) {
            state.SkipWithError("calibrate --frame failed");
            break;
        }
    }
    std::remove(frame.c_str());
    std::remove(out.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_CalibrateFrameProcess)->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
