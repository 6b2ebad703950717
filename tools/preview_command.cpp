// quarvel preview PARAMS (IMAGE | --video FILE | --camera N) [--show]
// [--fill] [-o OUT]: paints an image, a video or a live camera through the
// calibration onto the 1680 x 1050 canvas.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <quarvel/preview.h>
#include <quarvel/quarvel.h>

#include "camera_source.h"
#include "cli_common.h"

namespace quarvel::cli {
namespace {

constexpr const char* kHelp =
    "usage: quarvel preview [--display WxH|NAME] PARAMS IMAGE [-o OUT] [--show] [--fill]\n"
    "       quarvel preview [--display WxH|NAME] PARAMS --video FILE [-o OUT] [--show] [--fill]\n"
    "       quarvel preview [--display WxH|NAME] PARAMS --camera N [-o OUT] [--show] [--fill]\n"
    "\n"
    "Loads the parameter file PARAMS and paints a picture through the\n"
    "calibration onto the 1680 x 1050 preview canvas: the image IMAGE (any\n"
    "format OpenCV reads, taken as grey), or every frame of a video file or a\n"
    "camera (OpenCV's VideoCapture; frames converted to grey). After the first\n"
    "frame the calibration's map is cached, so frames are only gathered.\n"
    "\n"
    "  -o, --output OUT    an image (default barrel.png for IMAGE): the canvas, or\n"
    "                      the last frame's; OUT.avi: every painted frame (MJPG)\n"
    "  --show              show the canvas in the window \"barrel\" (needs an X\n"
    "                      display); for frames at the source's rate with the\n"
    "                      measured frames per second in a corner; a key quits\n"
    "  --fill              paint the hole-free picture (each canvas pixel sampled\n"
    "                      where the inverse chain lands) instead of the forward one\n"
    "  --video FILE        frames from a video file\n"
    "  --camera N          frames from camera N (0 is the first)\n"
    "  --display WxH|NAME  fit to this display size or RandR/Wayland output\n"
    "\n"
    "For frames it prints the frames read, the frames painted and the frames\n"
    "per second at the end.\n"
    "\n"
    "exit status: 0 success, 2 usage error or unreadable/unwritable file\n";

bool CanWrite(const std::string& path) {
    try {
        return cv::haveImageWriter(path);
    } catch (const cv::Exception&) {
        return false;
    }
}

cv::Mat Paint(const Quarvel& q, const cv::Mat& grey, bool fill) {
    return fill ? q.RenderBarrelFilled(grey) : q.RenderBarrel(grey);
}

// Frames from a video or a camera, painted one after another.
int RunFrames(const Quarvel& q, cv::VideoCapture& capture, const std::string& output, bool show, bool fill) {
    const double sourceFps = capture.get(cv::CAP_PROP_FPS);
    const int frameMs = sourceFps > 0 && sourceFps < 1000 ? static_cast<int>(1000.0 / sourceFps) : 33;
    cv::VideoWriter writer;
    const bool video = !output.empty() && IsVideoPath(output);
    if (video && !writer.open(output, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), sourceFps > 0 ? sourceFps : 30,
                              cv::Size(kCanvasWidth, kCanvasHeight), true)) {
        return Fail(kUsage, "cannot write video '" + output + "'");
    }
    long read = 0;
    long painted = 0;
    double paintSeconds = 0;
    cv::Mat frame;
    cv::Mat grey;
    cv::Mat canvas;
    cv::Mat colour;
    const auto started = std::chrono::steady_clock::now();
    double shownFps = 0;
    while (capture.read(frame) && !frame.empty()) {
        ++read;
        const auto begin = std::chrono::steady_clock::now();
        if (frame.channels() == 3) {
            cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        } else if (frame.channels() == 4) {
            cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY);
        } else {
            frame.convertTo(grey, CV_8U);
        }
        canvas = Paint(q, grey, fill);
        if (canvas.empty()) {
            continue;
        }
        ++painted;
        paintSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (video) {
            cv::cvtColor(canvas, colour, cv::COLOR_GRAY2BGR);
            writer.write(colour);
        }
        if (show) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            shownFps = elapsed > 0 ? painted / elapsed : 0;
            char text[48];
            std::snprintf(text, sizeof text, "%.1f fps", shownFps);
            cv::putText(canvas, text, cv::Point(20, 40), cv::FONT_HERSHEY_SIMPLEX, 1.0, cv::Scalar(255), 2);
            cv::imshow(kPreviewWindowTitle, canvas);
            const int spent = static_cast<int>(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
            if (cv::waitKey(std::max(1, frameMs - spent)) >= 0) {
                break;
            }
        }
    }
    if (!output.empty() && !video && !canvas.empty() && !cv::imwrite(output, canvas)) {
        return Fail(kUsage, "cannot write '" + output + "'");
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("frames read %ld, frames painted %ld, %.1f frames/s (%.1f frames/s painting alone)\n", read, painted,
                wall > 0 ? painted / wall : 0.0, paintSeconds > 0 ? painted / paintSeconds : 0.0);
    if (!output.empty() && painted > 0) {
        std::printf("%s written to %s\n", video ? "video" : "last frame", output.c_str());
    }
    return read > 0 ? kSuccess : Fail(kUsage, "no frame could be read");
}

// The frames of --video or --camera, painted. Exit status.
int RunFrameSource(const ParsedArgs& parsed, Quarvel& q, const std::string& output, bool windowed, bool fill) {
    cv::VideoCapture capture;
    try {
        // Files through FFmpeg and cameras through V4L2 only: OpenCV's other
        // backends (image sequences, gphoto2) would be probed too.
        if (parsed.Has("video")) {
            capture.open(parsed.Get("video"), cv::CAP_FFMPEG);
        } else {
            const auto index = ParseInt(parsed.Get("camera"));
            if (!index || *index < 0) {
                return UsageError("preview ", "preview: --camera needs a camera number");
            }
            capture.open(*index, cv::CAP_V4L2);
        }
    } catch (const cv::Exception&) {
    }
    if (!capture.isOpened()) {
        return Fail(kUsage, parsed.Has("video") ? "cannot read video '" + parsed.Get("video") + "'"
                                                : "cannot open camera " + parsed.Get("camera"));
    }
    try {
        return RunFrames(q, capture, output, windowed, fill);
    } catch (const cv::Exception& e) {
        return Fail(kUsage, std::string("the video could not be processed: ") + e.what());
    }
}

// One image, painted, written and (in the window) shown. Exit status.
int RunImage(const std::string& image, Quarvel& q, const std::string& output, bool windowed, bool fill) {
    const cv::Mat grey = ReadGreyImage(image);
    if (grey.empty()) {
        return Fail(kUsage, "cannot read image '" + image + "'");
    }
    const cv::Mat canvas = Paint(q, grey, fill);
    bool written = false;
    try {
        written = !canvas.empty() && cv::imwrite(output, canvas);
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written) {
        return Fail(kUsage, "cannot write '" + output + "'");
    }
    std::printf("preview written to %s\n", output.c_str());
    std::fflush(stdout);
    if (windowed) {
        std::printf("showing the window \"barrel\"; press a key in it to close\n");
        std::fflush(stdout);
        try {
            cv::imshow(kPreviewWindowTitle, canvas);
            cv::waitKey(0);
        } catch (const cv::Exception&) {
            return Fail(kUsage, "the window cannot be shown");
        }
    }
    return kSuccess;
}

// The window, when asked for and a display can show it: whether it is shown.
std::optional<bool> OpenWindow(bool show, const std::string& output) {
    const bool windowed = show && XServerReachable();
    if (show && !windowed) {
        std::fprintf(stderr, "quarvel: no X display can be reached: the window cannot be shown%s\n",
                     output.empty() ? "" : ("; the preview is still written to " + output).c_str());
    }
    if (windowed) {
        try {
            cv::namedWindow(kPreviewWindowTitle, cv::WINDOW_AUTOSIZE);
        } catch (const cv::Exception&) {
            return std::nullopt;
        }
    }
    return windowed;
}

}  // namespace

int RunPreview(const Args& args) {
    ParsedArgs parsed;
    if (const auto error = ParseOptions(args,
                                        {{"output", 'o', true}, {"show", 0, false}, {"fill", 0, false},
                                         {"video", 0, true}, {"camera", 0, true}, kDisplayOption},
                                        parsed)) {
        return UsageError("preview ", "preview: " + *error);
    }
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return kSuccess;
    }
    const bool frames = parsed.Has("video") || parsed.Has("camera");
    if (parsed.Has("video") && parsed.Has("camera")) {
        return UsageError("preview ", "preview: --video and --camera exclude each other");
    }
    if (parsed.positional.size() != (frames ? 1u : 2u)) {
        return UsageError("preview ", frames ? "preview: expected PARAMS" : "preview: expected PARAMS and IMAGE");
    }
    const std::string& params = parsed.positional[0];
    const std::string output = parsed.Get("output", frames ? "" : "barrel.png");
    if (!output.empty() && !IsVideoPath(output) && !CanWrite(output)) {
        return UsageError("preview ", "preview: cannot write images of the kind '" + output +
                                          "' (unknown extension; try .png, or .avi for frames)");
    }
    if (!output.empty() && IsVideoPath(output) && !frames) {
        return UsageError("preview ", "preview: a video output needs --video or --camera");
    }
    Quarvel q;
    if (const auto error = ApplyDisplayOption(parsed, q)) {
        return UsageError("preview ", *error);
    }
    if (!q.ReadIniParam(params)) {
        return Fail(kUsage, "cannot read parameter file '" + params + "'");
    }
    const std::optional<bool> windowed = OpenWindow(parsed.Has("show"), output);
    if (!windowed) {
        return Fail(kUsage, "the window cannot be shown");
    }
    const bool fill = parsed.Has("fill");
    return frames ? RunFrameSource(parsed, q, output, *windowed, fill)
                  : RunImage(parsed.positional[1], q, output, *windowed, fill);
}

}  // namespace quarvel::cli
