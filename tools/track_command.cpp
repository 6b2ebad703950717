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

#include "blob_options.h"
#include "camera_feed.h"
#include "camera_source.h"
#include "cli_common.h"
#include "stop_signals.h"
#include "touch_json.h"
#include "touch_screen.h"
#include "track_view.h"
#include "tuio_sender.h"

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
    "                      {\"frame\": N, \"contacts\": [{\"id\": I, \"x\": X, \"y\": Y,\n"
    "                      \"cx\": x, \"cy\": y, \"area\": A, \"state\": \"down\"}, ...]}\n"
    "                      N counts frames from 0; x, y display pixels; cx, cy\n"
    "                      camera pixels; state down, move or up (a lifted\n"
    "                      contact once more, at its last position)\n"
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
    "  --still-seconds S   a touch that has not moved for S seconds lifts and\n"
    "                      becomes background (a glint, a sticker; default 8,\n"
    "                      0: never)\n"
    "  --camera-timeout S  a camera or stream that stops delivering is opened\n"
    "                      again and again; after S seconds (default 30) the run\n"
    "                      ends with exit status 2\n"
    "  --fps RATE          the video's frame rate, for TUIO speeds (default: what\n"
    "                      the video says, else 30; a camera's frames are timed\n"
    "                      as they arrive)\n"
    "\n"
    "Without an output it only counts (and says so).\n"
    "\n"
    "exit status: 0 success (also when stopped by SIGINT or SIGTERM), 2 usage\n"
    "             error, a parameter file that cannot be read or holds no\n"
    "             usable calibration, a camera that cannot be opened or\n"
    "             stayed gone, an output that cannot be opened or written\n";

bool IsVideoPath(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && (path.substr(dot) == ".avi" || path.substr(dot) == ".AVI");
}

bool CanWriteImage(const std::string& path) {
    try {
        return cv::haveImageWriter(path);
    } catch (const cv::Exception&) {
        return false;
    }
}

struct Outputs {
    bool json = false;
    std::unique_ptr<TuioSender> tuio;
    std::unique_ptr<UinputTouchScreen> screen;
    std::unique_ptr<TouchScreenEvents> events;
    bool window = false;
    std::string picture;  // -o
    cv::VideoWriter video;
    bool tuioFailing = false;  // the last bundle could not be sent
};

// Sends one frame's contacts through every output. False, with the
// reason, when one that must work (standard output, the touchscreen)
// cannot be written.
bool Emit(long long frame, const std::vector<Contact>& contacts, double seconds, Outputs& out, std::string& error,
          bool always = true) {
    if (out.json && (always || !contacts.empty())) {
        const std::string line = ContactsJson(frame, contacts) + "\n";
        if (std::fputs(line.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            error = "cannot write standard output";
            return false;
        }
    }
    if (out.tuio) {
        // A receiver that is not there loses bundles; tracking goes on.
        const bool sent = out.tuio->Send(contacts, seconds);
        if (!sent && !out.tuioFailing) {
            std::fprintf(stderr, "quarvel: warning: TUIO bundles not sent: %s (tracking goes on)\n",
                         out.tuio->error().c_str());
        } else if (sent && out.tuioFailing) {
            std::fprintf(stderr, "quarvel: TUIO bundles are sent again\n");
        }
        out.tuioFailing = !sent;
    }
    if (out.screen && !out.screen->Write(out.events->Frame(contacts))) {
        error = "cannot write to the touchscreen " + out.screen->node();
        return false;
    }
    return true;
}

void SayBackground(const TouchTracker& tracker, long long frames) {
    const BackgroundStatus b = tracker.background();
    std::fprintf(stderr,
                 "background learned at frame %lld (%lld frames waited for the picture to settle): sensor noise %.1f "
                 "grey levels, threshold %.1f, fingers %.0f to %.0f pixels\n",
                 frames, b.settling, b.noise, b.threshold, b.minArea, b.maxArea);
}

int Loop(CameraFeed& feed, bool live, double fps, double giveUp, TouchTracker& tracker, Outputs& out) {
    const auto started = std::chrono::steady_clock::now();
    const cv::Size expected(tracker.calibration().params().imageWidth, tracker.calibration().params().imageHeight);
    const StopSignals stopSignals;
    const auto stop = [] { return StopSignals::Received() != 0; };
    long long frames = 0;
    long long ids = 0;
    long long highest = 0;
    bool warnedSize = false;
    bool learned = false;
    double seconds = 0.0;
    cv::Mat frame;
    cv::Mat shown;
    std::string error;
    // Every contact still down lifts, through every output.
    const auto liftAll = [&]() {
        // (A JSON line only when something lifts; TUIO's last bundle says
        // that nothing is alive in any case.)
        return Emit(frames, tracker.LiftAll(), seconds, out, error, false);
    };
    int status = kSuccess;
    for (;;) {
        if (stop()) {
            break;
        }
        const CameraFeed::Read read = feed.Next(
            frame, stop,
            [&] {
                liftAll();
                std::fprintf(stderr, "quarvel: the camera '%s' stopped delivering frames: every touch lifted; opening "
                                     "it again (giving up after %g s)\n", feed.source().c_str(), giveUp);
            },
            [&](double after) {
                std::fprintf(stderr, "quarvel: the camera '%s' is back after %.1f s\n", feed.source().c_str(), after);
            });
        if (read == CameraFeed::Read::End) {
            break;
        }
        if (read == CameraFeed::Read::Gone) {
            status = Fail(kUsage, "the camera '" + feed.source() + "' stayed gone; giving up");
            break;
        }
        seconds = live ? std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()
                       : static_cast<double>(frames) / fps;
        if (frame.size() != expected && !warnedSize) {
            std::fprintf(stderr, "quarvel: warning: the frames are %d x %d, the calibration is for a %d x %d camera\n",
                         frame.cols, frame.rows, expected.width, expected.height);
            warnedSize = true;
        }
        const std::vector<Contact>& contacts = tracker.Track(frame, seconds);
        for (const Contact& c : contacts) {
            if (c.id > highest) {  // ids rise: a new one is above all before it
                highest = c.id;
                ++ids;
            }
        }
        if (!learned && !tracker.learning()) {
            SayBackground(tracker, frames);
        }
        learned = !tracker.learning();
        if (!Emit(frames, contacts, seconds, out, error)) {
            liftAll();
            return Fail(kUsage, error);
        }
        ++frames;
        if (out.window || !out.picture.empty()) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            shown = DrawTracking(frame, contacts, tracker.calibration(), frames - 1, elapsed > 0 ? frames / elapsed : 0);
            if (out.video.isOpened()) {
                out.video.write(shown);
            }
            if (out.window) {
                cv::imshow("track", shown);
                if (cv::waitKey(1) >= 0) {
                    break;
                }
            }
        }
    }
    if (!liftAll()) {
        status = Fail(kUsage, error);
    }
    if (const int signal = StopSignals::Received()) {
        std::fprintf(stderr, "quarvel: stopped by %s; every touch lifted\n", StopSignals::Name(signal));
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::FILE* summary = out.json ? stderr : stdout;
    std::fprintf(summary, "frames %lld, contacts %lld, %.1f frames/s\n", frames, ids, wall > 0 ? frames / wall : 0.0);
    if (!out.picture.empty() && !IsVideoPath(out.picture) && !shown.empty()) {
        bool written = false;
        try {
            written = cv::imwrite(out.picture, shown);
        } catch (const cv::Exception&) {
            written = false;
        }
        if (!written) {
            return Fail(kUsage, "cannot write '" + out.picture + "'");
        }
    }
    if (status != kSuccess) {
        return status;
    }
    return frames > 0 || StopSignals::Received() != 0 ? kSuccess : Fail(kUsage, "no frame could be read");
}

}  // namespace

int RunTrack(const Args& args) {
    ParsedArgs parsed;
    std::vector<Option> known = {{"video", 0, true}, {"camera", 0, true}, {"json", 0, false},
                                 {"tuio", 0, true},  {"uinput", 0, false}, {"show", 0, false},
                                 {"output", 'o', true}, {"fps", 0, true},  {"still-seconds", 0, true},
                                 {"camera-timeout", 0, true}, kDisplayOption};
    known.insert(known.end(), BlobOptionList().begin(), BlobOptionList().end());
    if (const auto error = ParseOptions(args, known, parsed)) {
        return UsageError("track ", "track: " + *error);
    }
    if (parsed.help) {
        PrintHelpWithBlobOptions(kHelp);
        return kSuccess;
    }
    if (parsed.positional.size() != 1) {
        return UsageError("track ", "track: expected PARAMS");
    }
    if (parsed.Has("video") == parsed.Has("camera")) {
        return UsageError("track ", "track: give one of --video FILE and --camera N|SOURCE");
    }
    TrackerOptions options;
    if (const auto error = ReadBlobOptions(parsed, options.blobs)) {
        return UsageError("track ", "track: " + *error);
    }
    if (parsed.Has("still-seconds")) {
        const auto v = ParseNumber(parsed.Get("still-seconds"));
        if (!v || *v < 0) {
            return UsageError("track ", "track: --still-seconds needs a number of seconds (0: never)");
        }
        options.absorbSeconds = *v;
    }
    double cameraTimeout = 30.0;
    if (parsed.Has("camera-timeout")) {
        const auto v = ParseNumber(parsed.Get("camera-timeout"));
        if (!v || *v < 0) {
            return UsageError("track ", "track: --camera-timeout needs a number of seconds");
        }
        cameraTimeout = *v;
    }
    std::optional<double> fps;
    if (parsed.Has("fps")) {
        fps = ParseNumber(parsed.Get("fps"));
        if (!fps || *fps <= 0 || *fps > 10000) {
            return UsageError("track ", "track: --fps needs a positive frame rate");
        }
    }
    Outputs out;
    out.json = parsed.Has("json");
    out.picture = parsed.Get("output");
    if (!out.picture.empty() && !IsVideoPath(out.picture) && !CanWriteImage(out.picture)) {
        return UsageError("track ", "track: cannot write images of the kind '" + out.picture +
                                        "' (try .png, or .avi for every frame)");
    }

    // The calibration, and the display it maps to: the one named, else the
    // one the file was calibrated for, else the one a load would use.
    const std::string& params = parsed.positional[0];
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
    const Model model(file.params, cv::Size(display.width, display.height));
    std::fprintf(stderr, "touches for a %d x %d display (%s)\n", model.display().width, model.display().height, from);
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
    if (!out.json && !out.tuio && !out.screen && !parsed.Has("show") && out.picture.empty()) {
        std::fprintf(stderr, "quarvel: warning: no output chosen (--json, --tuio, --uinput, --show, -o): the "
                             "touches are only counted\n");
    }

    const std::string input = parsed.Has("camera") ? parsed.Get("camera") : parsed.Get("video");
    // A camera's frames are timed as they arrive; a video's by its rate.
    const bool live = parsed.Has("camera");
    CameraFeed feed(input, live, cameraTimeout);
    if (!feed.Open()) {
        return Fail(kUsage, live ? "cannot open camera '" + input + "'" : "cannot read video '" + input + "'");
    }
    cv::VideoCapture& source = feed.capture();
    if (IsVideoPath(out.picture)) {
        cv::Size size;
        try {
            size = cv::Size(static_cast<int>(source.get(cv::CAP_PROP_FRAME_WIDTH)),
                            static_cast<int>(source.get(cv::CAP_PROP_FRAME_HEIGHT)));
        } catch (const cv::Exception&) {
        }
        if (size.area() <= 0 ||
            !out.video.open(out.picture, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                            fps ? *fps : FramesPerSecond(source, input), size)) {
            return Fail(kUsage, "cannot write video '" + out.picture + "'");
        }
    }
    TouchTracker tracker(model, options);
    try {
        return Loop(feed, live, fps ? *fps : FramesPerSecond(source, input), cameraTimeout, tracker, out);
    } catch (const cv::Exception& e) {
        return Fail(kUsage, std::string("the frames could not be processed: ") + e.what());
    }
}

}  // namespace quarvel::cli
