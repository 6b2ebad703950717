// quarvel track A.ini --video a.avi B.ini --video b.avi ...: several
// cameras, each read and tracked on a thread of its own, fused into one
// surface.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include <quarvel/fusion.h>

#include "camera_devices.h"
#include "camera_feed.h"
#include "camera_source.h"
#include "frame_grabber.h"
#include "pacer.h"
#include "stop_signals.h"
#include "track_service.h"
#include "track_setup.h"

namespace quarvel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A camera's frame as its thread tracked it, waiting for the fusion.
struct Tracked {
    TouchFrame touches;
    FrameRecord record;  // its figures (`touches` pointed at once it is fused)
    Clock::time_point captured;
};

const Option* Find(const std::vector<Option>& options, std::string_view name) {
    for (const Option& o : options) {
        if (o.name == name || (!o.alias.empty() && o.alias == name)) {
            return &o;
        }
    }
    return nullptr;
}

// A camera's frames tracked on its own thread. Videos wait for the fusion
// (frame n of every video is the same instant); a live camera's newest
// frame replaces one not yet fused, so a slow camera never holds the rest.
class CameraWorker {
public:
    CameraWorker(int index, const WallCamera& camera, const Model& model, const TrackerOptions& options, double timeout,
                 const CameraSettings& settings, TrackService& service)
        : index_(index),
          feed_(camera.source, camera.live(), timeout, settings),
          tracker_(model, options),
          live_(camera.live()),
          service_(service) {}
    ~CameraWorker() { Join(); }
    CameraWorker(const CameraWorker&) = delete;
    CameraWorker& operator=(const CameraWorker&) = delete;

    bool Open() { return feed_.Open(); }
    CameraFeed& feed() { return feed_; }
    void Start(double fps, const Pacer* pacer, Clock::time_point started, std::mutex& m,
               std::condition_variable& changed, const std::atomic<bool>& stopping) {
        pacer_ = pacer;
        thread_ = std::thread([=, &m, &changed, &stopping] { Run(fps, started, m, changed, stopping); });
    }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Under the shared mutex:
    std::deque<Tracked> frames;
    bool ended = false;
    bool gone = false;
    long long skipped = 0;           // live frames replaced before they were fused, not yet on the board
    std::optional<Model> recalibrate;  // a reloaded calibration, for the camera's thread to take

private:
    void Run(double fps, Clock::time_point started, std::mutex& m, std::condition_variable& changed,
             const std::atomic<bool>& stopping) {
        const auto stop = [&stopping] { return stopping.load() || StopSignals::Received() != 0; };
        cv::Mat frame;
        for (long long n = 0;; ++n) {
            if (pacer_ != nullptr && !pacer_->Wait(n, stop)) {
                const std::lock_guard<std::mutex> lock(m);
                ended = true;
                changed.notify_all();
                return;
            }
            Clock::time_point captured;
            long long replaced = 0;
            const CameraFeed::Read read = Read(frame, captured, replaced, stop);
            if (read != CameraFeed::Read::Frame) {
                const std::lock_guard<std::mutex> lock(m);
                ended = true;
                gone = read == CameraFeed::Read::Gone;
                changed.notify_all();
                return;
            }
            TakeCalibration(m);
            Tracked tracked;
            tracked.captured = captured;
            const double t = live_ ? std::chrono::duration<double>(tracked.captured - started).count() : n / fps;
            const Clock::time_point begun = Clock::now();
            tracked.touches = tracker_.Track(frame, t);
            tracked.record = Describe(tracker_, tracked.touches, Milliseconds(begun, Clock::now()));
            service_.View(index_, frame, tracked.touches.contacts);
            std::unique_lock<std::mutex> lock(m);
            if (live_) {
                skipped += replaced + static_cast<long long>(frames.size());
                frames.clear();
            } else {
                changed.wait(lock, [&] { return frames.size() < 2 || stop(); });
            }
            frames.push_back(std::move(tracked));
            changed.notify_all();
        }
    }

    // The next frame: a video's next, a camera's newest (read on a thread
    // of its own; `replaced` counts those it skipped).
    CameraFeed::Read Read(cv::Mat& frame, Clock::time_point& captured, long long& replaced,
                          const std::function<bool()>& stop) {
        const auto lost = [this] {
            std::fprintf(stderr, "quarvel: the camera '%s' stopped delivering frames; opening it again\n",
                         feed_.source().c_str());
        };
        const auto back = [this](double after) {
            std::fprintf(stderr, "quarvel: the camera '%s' is back after %.1f s\n", feed_.source().c_str(), after);
        };
        if (!live_) {
            const CameraFeed::Read read = feed_.Next(frame, stop, lost, back);
            captured = feed_.captured();
            return read;
        }
        if (!grabber_) {
            grabber_.emplace(feed_);
        }
        return grabber_->Read(frame, captured, replaced, stop, lost, back);
    }

    void TakeCalibration(std::mutex& m) {
        std::optional<Model> model;
        {
            const std::lock_guard<std::mutex> lock(m);
            model.swap(recalibrate);
        }
        if (model) {
            tracker_.Recalibrate(*model);
        }
    }

    int index_;
    CameraFeed feed_;
    TouchTracker tracker_;
    bool live_;
    TrackService& service_;
    const Pacer* pacer_ = nullptr;
    std::optional<FrameGrabber> grabber_;  // a camera's reading thread, made on the worker's
    std::thread thread_;
};

class WallLoop {
public:
    WallLoop(std::vector<std::unique_ptr<CameraWorker>>& workers, TouchFusion& fusion, TrackOutputs& out, double fps,
             bool live, const Pacer* pacer, TrackService& service, std::vector<Model> models)
        : workers_(workers), fusion_(fusion), out_(out), fps_(fps), live_(live), pacer_(pacer), service_(service),
          models_(std::move(models)) {}

    int Run() {
        for (auto& w : workers_) {
            w->Start(fps_, pacer_, started_, m_, changed_, stopping_);
        }
        int status = kSuccess;
        while (status == kSuccess && StopSignals::Received() == 0 && Gather()) {
            const double t = live_ ? Elapsed() : static_cast<double>(fused_) / fps_;
            const TouchFrame& frame = fusion_.Fuse(t);
            Count(frame);
            if (!out_.Emit(frame.frame, frame, error_)) {
                status = Fail(kUsage, error_);
            }
            Report(frame);
            ++fused_;
            Reload();
        }
        {
            const std::lock_guard<std::mutex> lock(m_);
            stopping_ = true;
            changed_.notify_all();
        }
        bool gone = false;
        for (auto& w : workers_) {
            w->Join();
            gone = gone || w->gone;
        }
        if (!out_.Emit(fused_, fusion_.LiftAll(), error_, true) && status == kSuccess) {
            status = Fail(kUsage, error_);
        }
        const double wall = Elapsed();
        std::fprintf(out_.json ? stderr : stdout, "frames %lld, contacts %lld, %.1f frames/s\n", fused_, ids_,
                     wall > 0 ? fused_ / wall : 0.0);
        if (status == kSuccess && gone && StopSignals::Received() == 0) {
            return Fail(kUsage, "every camera stayed gone; giving up");
        }
        return status == kSuccess && fused_ == 0 && StopSignals::Received() == 0 ? Fail(kUsage, "no frame could be read")
                                                                                 : status;
    }

private:
    // The cameras' next frames into the fusion: one from each video still
    // running, or whatever live cameras delivered. False at the end.
    bool Gather() {
        std::unique_lock<std::mutex> lock(m_);
        bool any = false;
        if (live_) {
            changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return Ready() || AllEnded(); });
        }
        for (std::size_t k = 0; k < workers_.size(); ++k) {
            CameraWorker& w = *workers_[k];
            if (!live_) {
                changed_.wait(lock, [&] { return !w.frames.empty() || w.ended || StopSignals::Received() != 0; });
            }
            if (!w.frames.empty()) {
                fusion_.Push(static_cast<int>(k), w.frames.front().touches);
                gathered_.emplace_back(static_cast<int>(k), std::move(w.frames.front()));
                w.frames.pop_front();
                any = true;
            }
            if (w.skipped > 0) {
                skipped_.emplace_back(static_cast<int>(k), w.skipped);
                w.skipped = 0;
            }
        }
        changed_.notify_all();
        return any || (live_ && !AllEnded());
    }
    bool Ready() const {
        for (const auto& w : workers_) {
            if (!w->frames.empty()) {
                return true;
            }
        }
        return false;
    }
    bool AllEnded() const {
        for (const auto& w : workers_) {
            if (!w->ended || !w->frames.empty()) {
                return false;
            }
        }
        return true;
    }
    void Count(const TouchFrame& frame) {
        for (const Contact& c : frame) {
            if (c.id > highest_) {
                highest_ = c.id;
                ++ids_;
            }
        }
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }
    // Each camera's frames that went into the fused one, on the board.
    void Report(const TouchFrame& fused) {
        const Clock::time_point output = Clock::now();
        for (auto& [camera, tracked] : gathered_) {
            tracked.record.touches = &tracked.touches;
            service_.Frame(camera, tracked.record, tracked.captured, output);
        }
        for (const auto& [camera, count] : skipped_) {
            service_.Skipped(camera, count);
        }
        gathered_.clear();
        skipped_.clear();
        service_.Surface(fused);
        service_.Done(out_);
    }
    // SIGHUP: each camera's thread takes its new calibration before its next frame.
    void Reload() {
        if (!StopSignals::TakeReload()) {
            return;
        }
        std::vector<Model> models = models_;
        if (!service_.Reload(models)) {
            return;
        }
        models_ = models;
        const std::lock_guard<std::mutex> lock(m_);
        for (std::size_t k = 0; k < workers_.size(); ++k) {
            workers_[k]->recalibrate = models[k];  // (the fusion takes only the image's size from it)
        }
    }

    std::vector<std::unique_ptr<CameraWorker>>& workers_;
    TouchFusion& fusion_;
    TrackOutputs& out_;
    double fps_;
    bool live_;
    const Pacer* pacer_;
    TrackService& service_;
    std::vector<Model> models_;
    std::vector<std::pair<int, Tracked>> gathered_;
    std::vector<std::pair<int, long long>> skipped_;
    const StopSignals stopSignals_{true};
    const Clock::time_point started_ = Clock::now();
    std::mutex m_;
    std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    long long fused_ = 0;
    long long ids_ = 0;
    long long highest_ = 0;
    std::string error_;
};

// Each camera's calibration, all for one display. Exit status.
int LoadWall(const ParsedArgs& parsed, const std::vector<WallCamera>& cameras, std::vector<Model>& models) {
    for (const WallCamera& camera : cameras) {
        std::optional<Model> model;
        if (const int status = LoadCalibration(parsed, camera.params, model); status != kSuccess) {
            return status;
        }
        if (!models.empty() && model->display() != models.front().display()) {
            return UsageError("track ", "track: '" + camera.params + "' is for a " +
                                            std::to_string(model->display().width) + " x " +
                                            std::to_string(model->display().height) + " display, '" +
                                            cameras.front().params + "' for another: give --display WxH");
        }
        models.push_back(*model);
    }
    return kSuccess;
}

}  // namespace

std::vector<WallCamera> SplitCameras(const Args& args, const std::vector<Option>& options,
                                     const std::vector<std::string_view>& perCamera, Args& rest) {
    std::vector<WallCamera> cameras;
    rest.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view token = args[i];
        if (token == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (token.size() > 1 && token[0] == '-') {
            const bool isLong = token.size() > 2 && token[1] == '-';
            const std::size_t equals = token.find('=');
            const std::string_view name = isLong ? token.substr(2, equals == std::string_view::npos ? token.npos : equals - 2)
                                                 : std::string_view();
            const Option* o = isLong ? Find(options, name) : nullptr;
            if (!isLong && token.size() == 2) {
                for (const Option& candidate : options) {
                    o = candidate.letter == token[1] ? &candidate : o;
                }
            }
            const bool inlineValue = isLong && equals != std::string_view::npos;
            const bool takesNext = o != nullptr && o->takesValue && !inlineValue && i + 1 < args.size();
            const bool ours = std::find(perCamera.begin(), perCamera.end(), name) != perCamera.end();
            if (ours && !cameras.empty() && (inlineValue || takesNext)) {
                cameras.back().source = std::string(inlineValue ? token.substr(equals + 1) : args[++i]);
                cameras.back().option = std::string(name);
                continue;
            }
            rest.push_back(token);
            if (takesNext) {
                rest.push_back(args[++i]);
            }
            continue;
        }
        cameras.push_back({std::string(token), {}, {}});
    }
    if (cameras.size() <= 1) {
        return {};
    }
    return cameras;
}

int RunWallTrack(const ParsedArgs& parsed, const std::vector<WallCamera>& cameras, TrackService& service) {
    for (const WallCamera& camera : cameras) {
        if (camera.source.empty()) {
            return UsageError("track ", "track: '" + camera.params + "' needs its --video FILE or --camera N after it");
        }
        if (camera.live() != cameras.front().live()) {
            return UsageError("track ", "track: give every camera --video, or every one --camera");
        }
    }
    if (parsed.Has("show") || parsed.Has("output")) {
        return UsageError("track ", "track: --show and -o show one camera; give one PARAMS for them");
    }
    TrackerOptions options;
    double timeout = 30.0;
    std::optional<double> fps;
    if (const auto error = ReadTrackOptions(parsed, options, timeout, fps)) {
        return UsageError("track ", "track: " + *error);
    }
    ReplayOptions replay;
    if (const auto error = ReadReplayOptions(parsed, cameras.front().live(), replay)) {
        return UsageError("track ", "track: " + *error);
    }
    CameraSettings settings;
    if (const auto error = ReadCameraSettings(parsed, cameras.front().live(), settings)) {
        return UsageError("track ", "track: " + *error);
    }
    std::vector<Model> models;
    if (const int status = LoadWall(parsed, cameras, models); status != kSuccess) {
        return status;
    }
    TrackOutputs out;
    if (const int status = OpenOutputs(parsed, models.front(), out); status != kSuccess) {
        return status;
    }
    std::vector<std::string> names;
    std::vector<std::string> sources;
    for (const WallCamera& camera : cameras) {
        names.push_back(camera.params);
        sources.push_back(camera.source);
    }
    if (const int status = service.Open(parsed, names, sources, models); status != kSuccess) {
        return status;
    }
    TouchFusion fusion;
    std::vector<std::unique_ptr<CameraWorker>> workers;
    for (std::size_t k = 0; k < cameras.size(); ++k) {
        workers.push_back(
            std::make_unique<CameraWorker>(static_cast<int>(k), cameras[k], models[k], options, timeout, settings,
                                           service));
        if (!workers.back()->Open()) {
            return Fail(kUsage, workers.back()->feed().Trouble());
        }
        fusion.AddCamera(cameras[k].params, models[k], options.blobs.fingerDiameter);
    }
    const double rate = fps ? *fps : FramesPerSecond(workers.front()->feed().capture(), cameras.front().source);
    std::fprintf(stderr, "%zu cameras fused into one surface\n", cameras.size());
    std::optional<Pacer> pacer;
    if (replay.realtime) {
        pacer.emplace(rate, replay.startAt);
    }
    if (!replay.source.empty() && out.tuio) {
        out.tuio->SetMember(replay.source, pacer ? pacer->start() : UnixNow());
    } else if (out.tuio && (pacer || cameras.front().live())) {
        out.tuio->SetEpoch(pacer ? pacer->start() : UnixNow());
    }
    return WallLoop(workers, fusion, out, rate, cameras.front().live(), pacer ? &*pacer : nullptr, service, models).Run();
}

}  // namespace quarvel::cli
