#ifndef QUARVEL_TOOLS_TRACK_SETUP_H
#define QUARVEL_TOOLS_TRACK_SETUP_H
// What `quarvel track` sets up before its frames flow, for one camera and
// for a wall of several.

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <quarvel/model.h>
#include <quarvel/touch.h>

#include "camera_source.h"
#include "cli_common.h"
#include "track_outputs.h"

namespace quarvel::cli {

// The tracker's options, the camera timeout and the video's frame rate
// from the command line. The error message, or nullopt.
std::optional<std::string> ReadTrackOptions(const ParsedArgs& parsed, TrackerOptions& options, double& cameraTimeout,
                                            std::optional<double>& framesPerSecond);
// --camera-format, --camera-size, --camera-fps, --exposure, --gain (for
// cameras: refused with --video). The error message, or nullopt.
std::optional<std::string> ReadCameraSettings(const ParsedArgs& parsed, bool live, CameraSettings& settings);
// The options a camera is opened with, for the option list.
const std::vector<Option>& CameraOptionList();
// How frames are delivered and sent on beyond the tracker's options.
struct ReplayOptions {
    bool realtime = false;  // --realtime: a video's frames at its own rate
    double startAt = std::numeric_limits<double>::quiet_NaN();  // --start-at: Unix seconds (NaN: at once)
    std::string source;     // --source: the name a hub knows this camera by (empty: not a member)
};
// --realtime, --start-at, --source. The error message, or nullopt.
std::optional<std::string> ReadReplayOptions(const ParsedArgs& parsed, bool live, ReplayOptions& replay);
// The calibration in `params`, and the display it maps to: the one named,
// else the one the file was calibrated for, else the one a load would
// use. Exit status.
int LoadCalibration(const ParsedArgs& parsed, const std::string& params, std::optional<Model>& model);
// The outputs asked for, opened (the window, the touchscreen, the TUIO
// socket). Exit status.
int OpenOutputs(const ParsedArgs& parsed, const Model& model, TrackOutputs& out);

// One camera of a wall: its parameter file and what follows it (where its
// frames come from, the frame to check it on).
struct WallCamera {
    std::string params;
    std::string source;
    std::string option;  // the option that named the source ("video", "camera", "frame"); "" none
    bool live() const { return option == "camera"; }
};
// The cameras named as "PARAMS --NAME VALUE" for a NAME of `perCamera`
// ("--video FILE", "--camera N"), in turn; `rest` the other arguments.
// Empty when the line names at most one PARAMS.
std::vector<WallCamera> SplitCameras(const Args& args, const std::vector<Option>& options,
                                     const std::vector<std::string_view>& perCamera, Args& rest);
// `quarvel track` of several cameras fused into one surface.
class TrackService;
int RunWallTrack(const ParsedArgs& parsed, const std::vector<WallCamera>& cameras, TrackService& service);


}  // namespace quarvel::cli

#endif
