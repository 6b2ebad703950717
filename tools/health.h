#ifndef QUARVEL_TOOLS_HEALTH_H
#define QUARVEL_TOOLS_HEALTH_H
// How a running `quarvel track` is: per camera its frames, rate, losses,
// processing time and capture-to-output latency, background, contacts and
// drift, and a recent view; the outputs' state. Written by the tracking
// threads once a frame, read by the status server's threads: every call
// takes the board's lock only for a copy, so a reader never holds up
// tracking.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>
#include <quarvel/touch.h>

namespace quarvel::cli {

// The latest samples of a figure (milliseconds), for its median and 99th
// percentile.
class SampleWindow {
public:
    explicit SampleWindow(std::size_t capacity = 600) : capacity_(capacity) {}
    void Add(double value);
    bool empty() const noexcept { return values_.empty(); }
    // The q-quantile (0..1) of the samples held, nearest rank; 0 when none.
    double Quantile(double q) const;

private:
    std::size_t capacity_;
    std::size_t next_ = 0;
    std::vector<double> values_;
};

// One tracked frame, as the board takes it.
struct FrameRecord {
    const TouchFrame* touches = nullptr;
    BackgroundStatus background;
    DriftStatus drift;
    double processingMs = 0.0;  // the tracker's time on it
    double latencyMs = 0.0;     // from its capture to the outputs having it
};

struct OutputsHealth {
    bool json = false;
    bool tuio = false;
    bool tuioFailing = false;
    bool uinput = false;
};

class HealthBoard {
public:
    using Clock = std::chrono::steady_clock;

    // One camera per parameter file / source pair, in the order given.
    HealthBoard(std::vector<std::string> names, std::vector<std::string> sources, std::vector<Model> models);

    void Record(int camera, const FrameRecord& record);
    // Frames the camera delivered that were replaced by a newer one before
    // they were tracked.
    void Skipped(int camera, long long frames);
    // Whether the camera's view is due again (at most five a second).
    bool WantsView(int camera) const;
    void SetView(int camera, const cv::Mat& frame, const std::vector<Contact>& contacts);
    void SetOutputs(const OutputsHealth& outputs);
    // The fused surface's contacts (a wall); a single camera's are its own.
    void SetSurface(const TouchFrame& touches);

    std::string Json() const;
    // The Prometheus text exposition format.
    std::string Metrics() const;
    // The camera's view with its contacts and the display's outline, JPEG;
    // empty when the camera has not delivered one.
    std::vector<unsigned char> ViewJpeg(int camera) const;
    // One line for a service manager: rate, contacts, drift.
    std::string Summary() const;
    int cameras() const noexcept { return static_cast<int>(cams_.size()); }

private:
    struct Camera {
        std::string name;
        std::string source;
        Model model;
        long long frames = 0;
        long long refused = 0;  // frames the tracker could not read
        long long lost = 0;     // frames that did not look like the scene
        long long repeated = 0; // the same frame again
        long long skipped = 0;
        std::vector<double> recent;  // the last frames' times, for the rate
        SampleWindow processing;
        SampleWindow latency;
        BackgroundStatus background;
        DriftStatus drift;
        std::vector<Contact> contacts;
        cv::Mat view;
        std::vector<Contact> viewContacts;
        long long viewNumber = 0;
        Clock::time_point viewAt{};
    };
    double Rate(const Camera& c, double now) const;
    double Seconds(Clock::time_point t) const { return std::chrono::duration<double>(t - started_).count(); }

    const Clock::time_point started_ = Clock::now();
    mutable std::mutex m_;
    std::vector<Camera> cams_;
    OutputsHealth outputs_;
    std::vector<Contact> surface_;
    bool fused_ = false;
    long long surfaceFrames_ = 0;
};

}  // namespace quarvel::cli

#endif
