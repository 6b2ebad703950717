// quarvel track PARAMS (--video FILE | --camera N) [--json] [--tuio
// HOST:PORT] [--uinput] [--show] [-o OUT]: fingers seen by the camera
// become calibrated touches.

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <quarvel/parameter_file.h>
#include <quarvel/touch.h>

#include "camera_devices.h"
#include "blob_options.h"
#include "camera_feed.h"
#include "camera_source.h"
#include "cli_common.h"
#include "stop_signals.h"
#include "track_outputs.h"
#include "config_file.h"
#include "frame_grabber.h"
#include "track_service.h"
#include "track_setup.h"
#include "pacer.h"
#include "track_view.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel track [--display WxH|NAME] PARAMS --video FILE [outputs] [options]\n"
    "       quarvel track [--display WxH|NAME] PARAMS --camera N|SOURCE [outputs] [options]\n"
    "\n"
    "Finds fingers touching the surface in each camera frame (bright blobs\n"
    "against a background it learns from 15 frames once the picture has\n"
    "settled, and which follows the camera's exposure, lamps and what stays\n"
    "still), follows each from frame to frame with a stable id (through a\n"
    "frame or two the camera misses), and maps it to the display through the\n"
    "parameter file PARAMS (sub-pixel). Each frame's output is written before\n"
    "the next frame is read. When it stops (the video ends, SIGINT, SIGTERM,\n"
    "a camera that fails) every touch still down is lifted through every\n"
    "output. At the end it prints the frames, the contacts and the frames per\n"
    "second (on standard error with --json).\n"
    "\n"
    "  --video FILE        frames from a video file, or an image sequence such\n"
    "                      as frames/%04d.png\n"
    "  --camera N|SOURCE   frames from camera N (0 is the first), or from SOURCE\n"
    "                      (a video, an image sequence, a stream URL, a /dev\n"
    "                      path) as they come; a camera or a stream that stops\n"
    "                      delivering is opened again\n"
    "  --display WxH|NAME  the display the touches are for (default: the one the\n"
    "                      parameter file was calibrated for, else the one a load\n"
    "                      would use; an error when no display answers)\n"
    "\n"
    "outputs (any together):\n"
    "  --json              one line per frame on standard output:\n"
    "                      {\"frame\": N, \"t\": T, \"contacts\": [{\"id\": I, \"x\": X,\n"
    "                      \"y\": Y, \"cx\": x, \"cy\": y, \"area\": A, \"state\": \"down\"},\n"
    "                      ...]}; N counts frames from 0, T is the frame's time in\n"
    "                      seconds; x, y display pixels; cx, cy camera pixels;\n"
    "                      state down, move, coasting (unseen for a frame or two,\n"
    "                      where its motion takes it) or up (a lifted contact\n"
    "                      once more, at its last position); \"status\" follows\n"
    "                      \"t\" for a frame refused, repeated or lost\n"
    "  --tuio HOST:PORT    TUIO 1.1 cursors (/tuio/2Dcur) over OSC/UDP, one\n"
    "                      bundle per frame; positions over the display's size\n"
    "  --uinput            a virtual multi-touch screen (/dev/uinput, protocol\n"
    "                      type B) spanning the display's pixels\n"
    "  --show              the camera frame with the contacts, their ids and\n"
    "                      display positions in the window \"track\"; a key quits\n"
    "  -o, --output OUT    what --show shows: OUT.avi every frame (MJPG), an\n"
    "                      image the last frame\n"
    "\n"
    "options:\n"
    "@BLOB_OPTIONS@"
    "  --absorb-seconds S  a touch that has not moved for S seconds lifts and\n"
    "                      becomes background (a glint, a sticker; default 8,\n"
    "                      0: never)\n"
    "  --follow-drift      the camera's motion since its background was learned\n"
    "                      (a knock, a loose mount; said once on standard error\n"
    "                      when it passes half a display pixel) composed into the\n"
    "                      correction, so touches stay right until it is\n"
    "                      calibrated again\n"
    "  --coast-frames N    frames a touch the camera misses stays down, where its\n"
    "                      motion takes it (default 2): every lift is reported N\n"
    "                      frames after the finger's last frame\n"
    "  --camera-timeout S  (--camera) a camera or stream that stops delivering is\n"
    "                      opened again and again; after S seconds (default 30)\n"
    "                      the run ends with exit status 2\n"
    "  --camera-format CODE  --camera-size WxH  --camera-fps RATE\n"
    "                      (--camera) what the camera delivers ('quarvel cameras'\n"
    "                      lists what each can: MJPG, YUYV, GREY...); what it does\n"
    "                      not take is said, and tracking goes on with what it gives\n"
    "  --exposure auto|E   (--camera) the camera's automatic exposure is turned\n"
    "                      off while tracking (a finger's brightness must not change\n"
    "                      with the rest of the picture): auto leaves it on, E sets\n"
    "                      the exposure (the driver's units)\n"
    "  --gain G            (--camera) the camera's gain (the driver's units)\n"
    "  --realtime          (--video) frames at the video's own rate, as a camera\n"
    "                      would deliver them\n"
    "  --start-at T        (--video) the replay's first frame at Unix time T\n"
    "                      (seconds; implies --realtime): recordings of one wall\n"
    "                      replay in step on several machines\n"
    "  --status [HOST:]PORT\n"
    "                      serves, read-only, on loopback unless HOST is given\n"
    "                      (0.0.0.0: every address; port 0: any free one, said\n"
    "                      on standard error): / a page that shows each camera's\n"
    "                      view and figures as they change, /status.json the\n"
    "                      figures (frames, frames a second, frames skipped, lost\n"
    "                      and refused, processing time and capture-to-output\n"
    "                      latency, background, contacts, drift; the outputs,\n"
    "                      uptime, version), /metrics the same for Prometheus\n"
    "  --config FILE       the command line's arguments, kept in FILE (as typed,\n"
    "                      over any lines; # begins a comment); what follows\n"
    "                      --config on the command line wins\n"
    "  --source NAME       (--tuio) a member of a wall: its bundles name it NAME\n"
    "                      and carry each frame's time in their time tag, for a\n"
    "                      hub (quarvel fuse)\n"
    "  --frames-per-second RATE\n"
    "                      (--video) the video's frame rate, for the frames'\n"
    "                      times and TUIO speeds (default: what the video says,\n"
    "                      else 30; a camera's frames are timed as they arrive)\n"
    "\n"
    "Several cameras (a wall): each PARAMS followed by its --video or --camera.\n"
    "Each camera is read and tracked on a thread of its own, and their contacts\n"
    "are fused into one surface: a finger two cameras see is one contact, at a\n"
    "mix weighted by how fully each sees it (a blob cut by an image's edge counts\n"
    "for little), and keeps its id across the seams. Frame n of every video is\n"
    "the same instant; live cameras' frames are timed as they arrive and their\n"
    "contacts carried along their motion to the moment of fusion. A camera that\n"
    "is silent for 0.5 s loses the fingers only it sees. --show and -o take one\n"
    "camera.\n"
    "\n"
    "Without an output it only counts (and says so).\n"
    "\n"
    "As a service: under systemd (Type=notify) it says READY=1 after its first\n"
    "frame and, with WatchdogSec=, WATCHDOG=1 at half that interval while\n"
    "frames flow (so a camera that hangs gets the service restarted); SIGHUP\n"
    "reads the config file and the parameter files again and maps the contacts\n"
    "down through the new calibrations without lifting them (other options\n"
    "changed take effect when it starts again).\n"
    "\n"
    "exit status: 0 success (also when stopped by SIGINT or SIGTERM), 2 usage\n"
    "             error, a parameter file that cannot be read or holds no\n"
    "             usable calibration, a camera that cannot be opened or\n"
    "             stayed gone, an output that cannot be opened or written\n";

// What the command line asks for.
struct TrackConfig {
    std::string params;
    std::string input;  // --video or --camera
    bool live = false;  // --camera: frames timed as they arrive, sources opened again
    TrackerOptions options;
    double cameraTimeout = 30.0;
    std::optional<double> fps;
    ReplayOptions replay;
    CameraSettings camera;
};

bool CanWriteImage(const std::string& path) {
    try {
        return cv::haveImageWriter(path);
    } catch (const cv::Exception&) {
        return false;
    }
}

// A number option within [low, high], when given.
std::optional<std::string> ReadNumber(const ParsedArgs& parsed, std::string_view name, double low, double high,
                                      const char* needs, double& value) {
    if (!parsed.Has(name)) {
        return std::nullopt;
    }
    const auto v = ParseNumber(parsed.Get(name));
    if (!v || *v < low || *v > high) {
        return "--" + std::string(name) + " needs " + needs;
    }
    value = *v;
    return std::nullopt;
}

std::optional<std::string> ReadTrackConfig(const ParsedArgs& parsed, TrackConfig& config) {
    if (parsed.positional.size() != 1) {
        return std::string("expected PARAMS");
    }
    if (parsed.Has("video") == parsed.Has("camera")) {
        return std::string("give one of --video FILE and --camera N|SOURCE");
    }
    config.params = parsed.positional[0];
    config.live = parsed.Has("camera");
    config.input = parsed.Get(config.live ? "camera" : "video");
    if (const auto error = RefuseUnused(parsed, {config.live ? "frames-per-second" : "camera-timeout"},
                                        config.live ? "--video" : "--camera")) {
        return error;
    }
    if (const auto error = ReadReplayOptions(parsed, config.live, config.replay)) {
        return error;
    }
    if (const auto error = ReadCameraSettings(parsed, config.live, config.camera)) {
        return error;
    }
    return ReadTrackOptions(parsed, config.options, config.cameraTimeout, config.fps);
}

}  // namespace

std::optional<std::string> ReadTrackOptions(const ParsedArgs& parsed, TrackerOptions& options, double& cameraTimeout,
                                            std::optional<double>& framesPerSecond) {
    TrackConfig config;
    config.options = options;
    config.cameraTimeout = cameraTimeout;
    if (const auto error = ReadBlobOptions(parsed, config.options.blobs)) {
        return error;
    }
    double coast = config.options.coastFrames;
    double fps = 0.0;
    const std::optional<std::string> errors[] = {
        ReadNumber(parsed, "absorb-seconds", 0, 1e9, "a number of seconds (0: never)", config.options.absorbSeconds),
        ReadNumber(parsed, "coast-frames", 0, 1000, "a number of frames from 0 to 1000", coast),
        ReadNumber(parsed, "camera-timeout", 0, 1e9, "a number of seconds", config.cameraTimeout),
        ReadNumber(parsed, "frames-per-second", 1e-3, 10000, "a positive frame rate", fps),
    };
    for (const auto& error : errors) {
        if (error) {
            return error;
        }
    }
    if (coast != static_cast<int>(coast)) {
        return std::string("--coast-frames needs a whole number of frames");
    }
    config.options.coastFrames = static_cast<int>(coast);
    config.options.followDrift = parsed.Has("follow-drift");
    if (parsed.Has("frames-per-second")) {
        config.fps = fps;
    }
    const std::string picture = parsed.Get("output");
    if (!picture.empty() && !IsVideoPath(picture) && !CanWriteImage(picture)) {
        return "cannot write images of the kind '" + picture + "' (try .png, or .avi for every frame)";
    }
    options = config.options;
    cameraTimeout = config.cameraTimeout;
    framesPerSecond = config.fps;
    return std::nullopt;
}

const std::vector<Option>& CameraOptionList() {
    static const std::vector<Option> options = {{"camera-format", 0, true}, {"camera-size", 0, true},
                                                {"camera-fps", 0, true},    {"exposure", 0, true},
                                                {"gain", 0, true}};
    return options;
}

std::optional<std::string> ReadCameraSettings(const ParsedArgs& parsed, bool live, CameraSettings& settings) {
    if (!live) {
        return RefuseUnused(parsed, {"camera-format", "camera-size", "camera-fps", "exposure", "gain"}, "--camera");
    }
    if (parsed.Has("camera-format")) {
        settings.format = parsed.Get("camera-format");
        for (char& c : settings.format) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (settings.format.size() != 4) {
            return std::string("--camera-format needs a four-character code (MJPG, YUYV, GREY; 'quarvel cameras' "
                               "lists a camera's)");
        }
    }
    if (parsed.Has("camera-size")) {
        const auto size = ParseSize(parsed.Get("camera-size"));
        if (!size) {
            return std::string("--camera-size needs WxH");
        }
        settings.size = cv::Size(size->first, size->second);
    }
    if (const auto error = ReadNumber(parsed, "camera-fps", 1e-3, 10000, "a positive frame rate", settings.fps)) {
        return error;
    }
    if (parsed.Get("exposure") == "auto") {
        settings.autoExposure = true;
    } else if (parsed.Has("exposure")) {
        double exposure = 0.0;
        if (const auto error = ReadNumber(parsed, "exposure", 0, 1e9, "auto or a number (the driver's units)", exposure)) {
            return error;
        }
        settings.exposure = exposure;
    }
    if (parsed.Has("gain")) {
        double gain = 0.0;
        if (const auto error = ReadNumber(parsed, "gain", 0, 1e9, "a number (the driver's units)", gain)) {
            return error;
        }
        settings.gain = gain;
    }
    return std::nullopt;
}

std::optional<std::string> ReadReplayOptions(const ParsedArgs& parsed, bool live, ReplayOptions& replay) {
    if (live) {
        if (const auto error = RefuseUnused(parsed, {"realtime", "start-at"}, "--video")) {
            return error;
        }
    }
    replay.realtime = parsed.Has("realtime") || parsed.Has("start-at");
    if (parsed.Has("start-at")) {
        const auto at = ParseNumber(parsed.Get("start-at"));
        if (!at || *at < 0) {
            return std::string("--start-at needs a moment in Unix seconds");
        }
        replay.startAt = *at;
    }
    if (parsed.Has("source") && !parsed.Has("tuio")) {
        return std::string("--source names this camera to a hub: it needs --tuio HUB:PORT");
    }
    replay.source = parsed.Get("source");
    return std::nullopt;
}

// The calibration, and the display it maps to: the one named, else the one
// the file was calibrated for, else the one a load would use. Exit status.
int LoadCalibration(const ParsedArgs& parsed, const std::string& params, std::optional<Model>& model) {
    const ParameterFile file = ReadParameterFile(params);
    if (!file.read) {
        return Fail(kUsage, "cannot read parameter file '" + params + "'");
    }
    if (!file.ok) {
        return Fail(kUsage, "'" + params + "' holds no usable calibration: " + file.reason);
    }
    DisplayInfo display;
    const char* from = "named";
    if (!parsed.Has("display") && file.params.displayWidth > 0 && file.params.displayHeight > 0) {
        display.width = file.params.displayWidth;
        display.height = file.params.displayHeight;
        from = "the one the parameter file was calibrated for";
    } else if (const auto error = ResolveDisplay(parsed, display, false)) {
        return UsageError("track ", "track: " + *error);
    } else if (!parsed.Has("display")) {
        from = ToString(display.source);
    }
    model.emplace(file.params, cv::Size(display.width, display.height));
    std::fprintf(stderr, "touches for a %d x %d display (%s)\n", model->display().width, model->display().height,
                 from);
    return kSuccess;
}

// The outputs asked for, opened (the window, the touchscreen, the TUIO
// socket). Exit status.
int OpenOutputs(const ParsedArgs& parsed, const Model& model, TrackOutputs& out) {
    out.json = parsed.Has("json");
    out.picture = parsed.Get("output");
    if (parsed.Has("tuio")) {
        std::string error;
        out.tuio = TuioSender::Open(parsed.Get("tuio"), model.display(), error);
        if (!out.tuio) {
            return UsageError("track ", "track: " + error);
        }
    }
    if (parsed.Has("uinput")) {
        std::string error;
        out.screen = UinputTouchScreen::Create(model.display(), error);
        if (!out.screen) {
            return Fail(kUsage, error);
        }
        out.events = std::make_unique<TouchScreenEvents>(model.display());
        std::fprintf(stderr, "touchscreen \"%s\" at %s, %d x %d\n", kTouchScreenName, out.screen->node().c_str(),
                     model.display().width, model.display().height);
    }
    if (parsed.Has("show")) {
        out.window = XServerReachable();
        if (!out.window) {
            std::fprintf(stderr, "quarvel: no X display can be reached: the window cannot be shown\n");
        } else {
            try {
                cv::namedWindow("track", cv::WINDOW_AUTOSIZE);
            } catch (const cv::Exception&) {
                return Fail(kUsage, "the window cannot be shown");
            }
        }
    }
    if (!out.any() && !parsed.Has("show")) {
        std::fprintf(stderr, "quarvel: warning: no output chosen (--json, --tuio, --uinput, --show, -o): the "
                             "touches are only counted\n");
    }
    return kSuccess;
}

namespace {

int OpenRecording(cv::VideoCapture& source, double fps, TrackOutputs& out) {
    if (!IsVideoPath(out.picture)) {
        return kSuccess;
    }
    cv::Size size;
    try {
        size = cv::Size(static_cast<int>(source.get(cv::CAP_PROP_FRAME_WIDTH)),
                        static_cast<int>(source.get(cv::CAP_PROP_FRAME_HEIGHT)));
    } catch (const cv::Exception&) {
    }
    if (size.area() <= 0 || !out.video.open(out.picture, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, size)) {
        return Fail(kUsage, "cannot write video '" + out.picture + "'");
    }
    return kSuccess;
}

void SayBackground(const TouchTracker& tracker, long long frames) {
    const BackgroundStatus b = tracker.background();
    std::fprintf(stderr,
                 "background learned at frame %lld (%lld frames waited for the picture to settle): sensor noise %.1f "
                 "grey levels, threshold %.1f, fingers %.0f to %.0f pixels\n",
                 frames, b.settling, b.noise, b.threshold, b.minArea, b.maxArea);
}

// One run of frames through the tracker and out.
class TrackLoop {
public:
    TrackLoop(CameraFeed& feed, const TrackConfig& config, double fps, TouchTracker& tracker, TrackOutputs& out,
              const Pacer* pacer, TrackService& service)
        : feed_(feed), config_(config), fps_(fps), tracker_(tracker), out_(out), pacer_(pacer), service_(service) {
        if (config.live) {
            grabber_.emplace(feed);
        }
    }

    int Run();

private:
    // The next frame; false at the end (status set where that is a failure).
    bool Next(cv::Mat& frame, int& status);
    // One frame tracked and sent on; false when the run ends.
    bool Step(const cv::Mat& frame, int& status);
    // What --show and -o show of it; false when a key was pressed.
    bool Show(const cv::Mat& frame, const TouchFrame& touches);
    // Every contact still down lifts, through every output.
    bool LiftAll();
    // Once, when the camera has moved by half a display pixel or more.
    void SayDrift();
    void SayLost();
    void SayBack(double after);
    // SIGHUP: the calibration read again.
    void Reload();
    int Finish(int status);
    double Elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

    CameraFeed& feed_;
    const TrackConfig& config_;
    double fps_;
    TouchTracker& tracker_;
    TrackOutputs& out_;
    const Pacer* pacer_;
    TrackService& service_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    const StopSignals stopSignals_{true};
    long long frames_ = 0;
    long long ids_ = 0;
    long long highest_ = 0;
    bool warnedSize_ = false;
    bool warnedDrift_ = false;
    bool learned_ = false;
    cv::Mat shown_;
    std::string error_;
    std::chrono::steady_clock::time_point captured_{};
    // Last: a camera's reading thread, stopped before the rest goes.
    std::optional<FrameGrabber> grabber_;
};

bool TrackLoop::LiftAll() {
    // (A JSON line only when something lifts; TUIO's last bundle says that
    // nothing is alive in any case.)
    return out_.Emit(frames_, tracker_.LiftAll(), error_, true);
}

void TrackLoop::SayDrift() {
    const DriftStatus d = tracker_.drift();
    if (warnedDrift_ || !d.measured || d.display < 0.5) {
        return;
    }
    warnedDrift_ = true;
    std::fprintf(stderr,
                 "quarvel: camera moved by %.1f px (%.2f degrees), %.1f display px at worst, at frame %lld; %s\n",
                 d.camera, d.degrees, d.display, d.frame,
                 config_.options.followDrift ? "followed (--follow-drift) until it is calibrated again"
                                             : "recalibrate or run with --follow-drift");
}

void TrackLoop::SayLost() {
    LiftAll();
    std::fprintf(stderr, "quarvel: the camera '%s' stopped delivering frames: every touch lifted; opening it again "
                         "(giving up after %g s)\n", feed_.source().c_str(), config_.cameraTimeout);
}

void TrackLoop::SayBack(double after) {
    std::fprintf(stderr, "quarvel: the camera '%s' is back after %.1f s\n", feed_.source().c_str(), after);
}

void TrackLoop::Reload() {
    if (!StopSignals::TakeReload()) {
        return;
    }
    std::vector<Model> models{tracker_.calibration()};
    if (service_.Reload(models)) {
        tracker_.Recalibrate(models.front());
        warnedDrift_ = false;
    }
}

bool TrackLoop::Next(cv::Mat& frame, int& status) {
    const auto stop = [] { return StopSignals::Received() != 0; };
    if (stop() || (pacer_ != nullptr && !pacer_->Wait(frames_, stop))) {
        return false;
    }
    Reload();
    const auto lost = [this] { SayLost(); };
    const auto back = [this](double after) { SayBack(after); };
    CameraFeed::Read read = CameraFeed::Read::End;
    if (grabber_) {  // a camera: the newest frame, read on its own thread
        long long skipped = 0;
        read = grabber_->Read(frame, captured_, skipped, stop, lost, back);
        service_.Skipped(0, skipped);
    } else {
        read = feed_.Next(frame, stop, lost, back);
        captured_ = feed_.captured();
    }
    if (read == CameraFeed::Read::Gone) {
        status = Fail(kUsage, "the camera '" + feed_.source() + "' stayed gone; giving up");
    }
    return read == CameraFeed::Read::Frame;
}

bool TrackLoop::Step(const cv::Mat& frame, int& status) {
    const Model& calibration = tracker_.calibration();
    const cv::Size expected(calibration.params().imageWidth, calibration.params().imageHeight);
    if (frame.size() != expected && !warnedSize_) {
        std::fprintf(stderr, "quarvel: warning: the frames are %d x %d, the calibration is for a %d x %d camera\n",
                     frame.cols, frame.rows, expected.width, expected.height);
        warnedSize_ = true;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point captured = captured_;
    const double seconds = config_.live ? std::chrono::duration<double>(captured - started_).count()
                                        : static_cast<double>(frames_) / fps_;
    const Clock::time_point begun = Clock::now();
    const TouchFrame& touches = tracker_.Track(frame, seconds);
    const double processing = Milliseconds(begun, Clock::now());
    for (const Contact& c : touches) {
        if (c.id > highest_) {  // ids rise: a new one is above all before it
            highest_ = c.id;
            ++ids_;
        }
    }
    if (!learned_ && !tracker_.learning()) {
        SayBackground(tracker_, frames_);
    }
    SayDrift();
    learned_ = !tracker_.learning();
    if (!out_.Emit(frames_, touches, error_)) {
        LiftAll();
        status = Fail(kUsage, error_);
        return false;
    }
    service_.Frame(0, Describe(tracker_, touches, processing), captured, Clock::now());
    service_.View(0, frame, touches.contacts);
    service_.Done(out_);
    ++frames_;
    return Show(frame, touches);
}

bool TrackLoop::Show(const cv::Mat& frame, const TouchFrame& touches) {
    if (!out_.window && out_.picture.empty()) {
        return true;
    }
    const double elapsed = Elapsed();
    shown_ = DrawTracking(frame, touches.contacts, tracker_.calibration(), frames_ - 1,
                          elapsed > 0 ? frames_ / elapsed : 0);
    if (out_.video.isOpened()) {
        out_.video.write(shown_);
    }
    if (out_.window) {
        cv::imshow("track", shown_);
        return cv::waitKey(1) < 0;
    }
    return true;
}

int TrackLoop::Finish(int status) {
    if (!LiftAll()) {
        status = Fail(kUsage, error_);
    }
    if (const int signal = StopSignals::Received()) {
        std::fprintf(stderr, "quarvel: stopped by %s; every touch lifted\n", StopSignals::Name(signal));
    }
    const double wall = Elapsed();
    std::FILE* summary = out_.json ? stderr : stdout;
    std::fprintf(summary, "frames %lld, contacts %lld, %.1f frames/s\n", frames_, ids_, wall > 0 ? frames_ / wall : 0.0);
    if (!out_.picture.empty() && !IsVideoPath(out_.picture) && !shown_.empty()) {
        bool written = false;
        try {
            written = cv::imwrite(out_.picture, shown_);
        } catch (const cv::Exception&) {
            written = false;
        }
        if (!written) {
            return Fail(kUsage, "cannot write '" + out_.picture + "'");
        }
    }
    if (status != kSuccess) {
        return status;
    }
    return frames_ > 0 || StopSignals::Received() != 0 ? kSuccess : Fail(kUsage, "no frame could be read");
}

int TrackLoop::Run() {
    int status = kSuccess;
    cv::Mat frame;
    while (Next(frame, status) && Step(frame, status)) {
    }
    if (status != kSuccess && !error_.empty()) {
        return status;  // an output failed: its touches were lifted where they could be
    }
    return Finish(status);
}

}  // namespace

int RunTrack(const Args& given) {
    ExpandedArgs expanded;
    if (const auto error = ExpandConfig(given, expanded)) {
        return UsageError("track ", "track: " + *error);
    }
    const Args& args = expanded.args;
    ParsedArgs parsed;
    std::vector<Option> known = {{"video", 0, true},
                                 {"camera", 0, true},
                                 {"json", 0, false},
                                 {"tuio", 0, true},
                                 {"uinput", 0, false},
                                 {"show", 0, false},
                                 {"output", 'o', true},
                                 {"frames-per-second", 0, true, "fps"},
                                 {"absorb-seconds", 0, true, "still-seconds"},
                                 {"coast-frames", 0, true},
                                 {"camera-timeout", 0, true},
                                 {"realtime", 0, false},
                                 {"start-at", 0, true},
                                 {"source", 0, true},
                                 {"follow-drift", 0, false},
                                 {"status", 0, true},
                                 kDisplayOption};
    known.insert(known.end(), BlobOptionList().begin(), BlobOptionList().end());
    known.insert(known.end(), CameraOptionList().begin(), CameraOptionList().end());
    Args rest;
    const std::vector<WallCamera> wall = SplitCameras(args, known, {"video", "camera"}, rest);
    if (const auto error = ParseOptions(wall.empty() ? args : rest, known, parsed)) {
        return UsageError("track ", "track: " + *error);
    }
    if (parsed.help) {
        PrintHelpWithBlobOptions(kHelp);
        return kSuccess;
    }
    TrackService service(given, known);
    if (!wall.empty()) {
        return RunWallTrack(parsed, wall, service);
    }
    TrackConfig config;
    if (const auto error = ReadTrackConfig(parsed, config)) {
        return UsageError("track ", "track: " + *error);
    }
    std::optional<Model> model;
    TrackOutputs out;
    if (const int status = LoadCalibration(parsed, config.params, model); status != kSuccess) {
        return status;
    }
    if (const int status = OpenOutputs(parsed, *model, out); status != kSuccess) {
        return status;
    }
    CameraFeed feed(config.input, config.live, config.cameraTimeout, config.camera);
    if (!feed.Open()) {
        return Fail(kUsage, feed.Trouble());
    }
    const double fps = config.fps ? *config.fps : FramesPerSecond(feed.capture(), config.input);
    if (const int status = OpenRecording(feed.capture(), fps, out); status != kSuccess) {
        return status;
    }
    if (const int status = service.Open(parsed, {config.params}, {config.input}, {*model}); status != kSuccess) {
        return status;
    }
    TouchTracker tracker(*model, config.options);
    try {
        std::optional<Pacer> pacer;
        if (config.replay.realtime) {
            pacer.emplace(fps, config.replay.startAt);
        }
        if (out.tuio && !config.replay.source.empty()) {
            out.tuio->SetMember(config.replay.source, pacer ? pacer->start() : UnixNow());
        } else if (out.tuio && (pacer || config.live)) {
            out.tuio->SetEpoch(pacer ? pacer->start() : UnixNow());
        }
        return TrackLoop(feed, config, fps, tracker, out, pacer ? &*pacer : nullptr, service).Run();
    } catch (const cv::Exception& e) {
        return Fail(kUsage, std::string("the frames could not be processed: ") + e.what());
    }
}

}  // namespace quarvel::cli
