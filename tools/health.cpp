#include "health.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <quarvel/version.h>

#include "touch_json.h"
#include "track_view.h"

namespace quarvel::cli {
namespace {

constexpr double kRateSeconds = 2.0;   // the frame rate is over the last two seconds
constexpr double kViewSeconds = 0.2;   // a view at most five times a second
constexpr int kViewWidth = 640;        // views wider than this are made smaller

std::string Number(double value) {
    std::string out;
    AppendNumber(out, value);
    return out;
}

// A sample's value in the exposition format (NaN where it is not a number).
std::string Sample(double value) { return std::isfinite(value) ? Number(value) : std::string("NaN"); }

// A label value in the exposition format: backslash, quote and newline escaped.
std::string Label(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

void AppendContacts(std::string& out, const std::vector<Contact>& contacts) {
    out += '[';
    bool first = true;
    for (const Contact& c : contacts) {
        if (c.state == ContactState::Up) {
            continue;
        }
        out += first ? "{\"id\": " : ", {\"id\": ";
        first = false;
        out += std::to_string(c.id) + ", \"x\": " + Number(c.x) + ", \"y\": " + Number(c.y) +
               ", \"cx\": " + Number(c.cx) + ", \"cy\": " + Number(c.cy) + ", \"state\": \"" +
               ContactStateName(c.state) + "\"}";
    }
    out += ']';
}

std::size_t Down(const std::vector<Contact>& contacts) {
    return static_cast<std::size_t>(std::count_if(contacts.begin(), contacts.end(),
                                                  [](const Contact& c) { return c.state != ContactState::Up; }));
}

}  // namespace

void SampleWindow::Add(double value) {
    if (!std::isfinite(value)) {
        return;
    }
    if (values_.size() < capacity_) {
        values_.push_back(value);
        return;
    }
    values_[next_] = value;
    next_ = (next_ + 1) % capacity_;
}

double SampleWindow::Quantile(double q) const {
    if (values_.empty()) {
        return 0.0;
    }
    std::vector<double> sorted = values_;
    const auto rank = static_cast<std::size_t>(std::ceil(std::clamp(q, 0.0, 1.0) * static_cast<double>(sorted.size())));
    const std::size_t k = rank == 0 ? 0 : rank - 1;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k), sorted.end());
    return sorted[k];
}

HealthBoard::HealthBoard(std::vector<std::string> names, std::vector<std::string> sources, std::vector<Model> models) {
    for (std::size_t k = 0; k < names.size() && k < sources.size() && k < models.size(); ++k) {
        Camera c;
        c.name = std::move(names[k]);
        c.source = std::move(sources[k]);
        c.model = std::move(models[k]);
        cams_.push_back(std::move(c));
    }
}

void HealthBoard::Record(int camera, const FrameRecord& record) {
    const double now = Seconds(Clock::now());
    const std::lock_guard<std::mutex> lock(m_);
    if (camera < 0 || camera >= cameras()) {
        return;
    }
    Camera& c = cams_[static_cast<std::size_t>(camera)];
    ++c.frames;
    c.recent.push_back(now);
    const auto old = std::find_if(c.recent.begin(), c.recent.end(), [&](double t) { return t >= now - kRateSeconds; });
    c.recent.erase(c.recent.begin(), old);
    c.processing.Add(record.processingMs);
    c.latency.Add(record.latencyMs);
    c.background = record.background;
    c.drift = record.drift;
    if (record.touches != nullptr) {
        const FrameStatus& s = record.touches->status;
        c.refused += s.ok ? 0 : 1;
        c.lost += s.lost ? 1 : 0;
        c.repeated += s.repeated ? 1 : 0;
        c.contacts = record.touches->contacts;
    }
}

void HealthBoard::Skipped(int camera, long long frames) {
    const std::lock_guard<std::mutex> lock(m_);
    if (camera >= 0 && camera < cameras()) {
        cams_[static_cast<std::size_t>(camera)].skipped += frames;
    }
}

bool HealthBoard::WantsView(int camera) const {
    const auto now = Clock::now();
    const std::lock_guard<std::mutex> lock(m_);
    return camera >= 0 && camera < cameras() &&
           now - cams_[static_cast<std::size_t>(camera)].viewAt >= std::chrono::duration<double>(kViewSeconds);
}

void HealthBoard::SetView(int camera, const cv::Mat& frame, const std::vector<Contact>& contacts) {
    if (frame.empty() || camera < 0 || camera >= cameras()) {
        return;
    }
    cv::Mat copy = frame.clone();  // drawn and scaled when asked for, off the tracking thread
    const std::lock_guard<std::mutex> lock(m_);
    Camera& c = cams_[static_cast<std::size_t>(camera)];
    c.view = std::move(copy);
    c.viewContacts = contacts;
    c.viewNumber = c.frames;
    c.viewAt = Clock::now();
}

void HealthBoard::SetOutputs(const OutputsHealth& outputs) {
    const std::lock_guard<std::mutex> lock(m_);
    outputs_ = outputs;
}

void HealthBoard::SetSurface(const TouchFrame& touches) {
    const std::lock_guard<std::mutex> lock(m_);
    surface_ = touches.contacts;
    fused_ = true;
    ++surfaceFrames_;
}

double HealthBoard::Rate(const Camera& c, double now) const {
    if (c.recent.size() < 2 || c.recent.back() < now - kRateSeconds) {
        return 0.0;  // no frame for two seconds: the camera stands still
    }
    const double span = c.recent.back() - c.recent.front();
    return span > 0 ? static_cast<double>(c.recent.size() - 1) / span : 0.0;
}

std::string HealthBoard::Json() const {
    const double now = Seconds(Clock::now());
    const std::lock_guard<std::mutex> lock(m_);
    std::string out = "{\"version\": \"" QUARVEL_VERSION_STRING "\", \"uptime\": " + Number(now);
    const cv::Size display = cams_.empty() ? cv::Size() : cams_.front().model.display();
    out += ", \"display\": {\"width\": " + std::to_string(display.width) +
           ", \"height\": " + std::to_string(display.height) + "}";
    out += ", \"outputs\": {\"json\": " + std::string(outputs_.json ? "true" : "false") + ", \"tuio\": \"" +
           (!outputs_.tuio ? "off" : outputs_.tuioFailing ? "failing" : "sending") + "\", \"uinput\": \"" +
           (outputs_.uinput ? "open" : "off") + "\"}";
    out += ", \"cameras\": [";
    for (std::size_t k = 0; k < cams_.size(); ++k) {
        const Camera& c = cams_[k];
        out += k == 0 ? "{\"name\": " : ", {\"name\": ";
        AppendString(out, c.name);
        out += ", \"source\": ";
        AppendString(out, c.source);
        out += ", \"frames\": " + std::to_string(c.frames) + ", \"fps\": " + Number(Rate(c, now)) +
               ", \"skipped\": " + std::to_string(c.skipped) + ", \"lost\": " + std::to_string(c.lost) +
               ", \"refused\": " + std::to_string(c.refused) + ", \"repeated\": " + std::to_string(c.repeated);
        out += ", \"processing_ms\": {\"median\": " + Number(c.processing.Quantile(0.5)) +
               ", \"p99\": " + Number(c.processing.Quantile(0.99)) + "}";
        out += ", \"latency_ms\": {\"median\": " + Number(c.latency.Quantile(0.5)) +
               ", \"p99\": " + Number(c.latency.Quantile(0.99)) + "}";
        const BackgroundStatus& b = c.background;
        out += ", \"background\": {\"state\": \"" + std::string(b.learned ? "learned" : "learning") +
               "\", \"threshold\": " + Number(b.threshold) + ", \"noise\": " + Number(b.noise) +
               ", \"gain\": " + Number(b.gain) + ", \"offset\": " + Number(b.offset) +
               ", \"relearned\": " + std::to_string(b.relearned) + ", \"absorbed\": " + std::to_string(b.absorbed) + "}";
        const DriftStatus& d = c.drift;
        out += ", \"drift\": {\"measured\": " + std::string(d.measured ? "true" : "false") + ", \"dx\": " +
               Number(d.dx) + ", \"dy\": " + Number(d.dy) + ", \"degrees\": " + Number(d.degrees) +
               ", \"camera_px\": " + Number(d.camera) + ", \"display_px\": " + Number(d.display) +
               ", \"frame\": " + std::to_string(d.frame) + "}";
        out += ", \"contacts\": ";
        AppendContacts(out, c.contacts);
        out += "}";
    }
    out += "], \"contacts\": ";
    AppendContacts(out, fused_ ? surface_ : (cams_.empty() ? std::vector<Contact>() : cams_.front().contacts));
    out += "}";
    return out;
}

std::string HealthBoard::Metrics() const {
    const double now = Seconds(Clock::now());
    const std::lock_guard<std::mutex> lock(m_);
    std::string out;
    const auto family = [&out](const char* name, const char* type, const char* help) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    const auto each = [&](const char* name, const char* type, const char* help, const auto& value) {
        family(name, type, help);
        for (const Camera& c : cams_) {
            out += std::string(name) + "{camera=\"" + Label(c.name) + "\"} " + value(c) + "\n";
        }
    };
    const auto quantiles = [&](const char* name, const char* help, const SampleWindow Camera::*window) {
        family(name, "gauge", help);
        for (const Camera& c : cams_) {
            for (const double q : {0.5, 0.99}) {
                out += std::string(name) + "{camera=\"" + Label(c.name) + "\",quantile=\"" + (q < 0.9 ? "0.5" : "0.99") +
                       "\"} " + Sample((c.*window).Quantile(q)) + "\n";
            }
        }
    };
    family("quarvel_build_info", "gauge", "The tool's version.");
    out += "quarvel_build_info{version=\"" QUARVEL_VERSION_STRING "\"} 1\n";
    family("quarvel_uptime_seconds", "gauge", "Seconds since tracking started.");
    out += "quarvel_uptime_seconds " + Sample(now) + "\n";
    each("quarvel_frames_total", "counter", "Frames tracked.", [](const Camera& c) { return std::to_string(c.frames); });
    each("quarvel_frames_skipped_total", "counter", "Frames replaced by a newer one before they were tracked.",
         [](const Camera& c) { return std::to_string(c.skipped); });
    each("quarvel_frames_lost_total", "counter", "Frames that did not look like the scene.",
         [](const Camera& c) { return std::to_string(c.lost); });
    each("quarvel_frames_refused_total", "counter", "Frames that could not be read.",
         [](const Camera& c) { return std::to_string(c.refused); });
    each("quarvel_frames_per_second", "gauge", "Frames tracked a second, over the last two seconds.",
         [&](const Camera& c) { return Sample(Rate(c, now)); });
    quantiles("quarvel_processing_milliseconds", "The tracker's time on a frame, recent frames.",
              &Camera::processing);
    quantiles("quarvel_latency_milliseconds", "From a frame's capture to the outputs having it, recent frames.",
              &Camera::latency);
    each("quarvel_background_learned", "gauge", "1 once the background is learned.",
         [](const Camera& c) { return std::string(c.background.learned ? "1" : "0"); });
    each("quarvel_threshold", "gauge", "The threshold in use, grey levels.",
         [](const Camera& c) { return Sample(c.background.threshold); });
    each("quarvel_contacts", "gauge", "Contacts down.", [](const Camera& c) { return std::to_string(Down(c.contacts)); });
    each("quarvel_drift_camera_pixels", "gauge", "The camera's motion since its background was learned.",
         [](const Camera& c) { return Sample(c.drift.camera); });
    each("quarvel_drift_display_pixels", "gauge", "What the camera's motion does to a touch, display pixels.",
         [](const Camera& c) { return Sample(c.drift.display); });
    family("quarvel_output_up", "gauge", "1 while an output works, 0 while it fails.");
    out += std::string("quarvel_output_up{output=\"tuio\"} ") + (outputs_.tuio && !outputs_.tuioFailing ? "1" : "0") +
           "\nquarvel_output_up{output=\"uinput\"} " + (outputs_.uinput ? "1" : "0") + "\n";
    return out;
}

std::vector<unsigned char> HealthBoard::ViewJpeg(int camera) const {
    cv::Mat frame;
    std::vector<Contact> contacts;
    long long number = 0;
    std::optional<Model> model;
    double fps = 0.0;
    {
        const std::lock_guard<std::mutex> lock(m_);
        if (camera < 0 || camera >= cameras() || cams_[static_cast<std::size_t>(camera)].view.empty()) {
            return {};
        }
        const Camera& c = cams_[static_cast<std::size_t>(camera)];
        frame = c.view;  // never written again: SetView puts a new one in its place
        contacts = c.viewContacts;
        number = c.viewNumber;
        model = c.model;
        fps = Rate(c, Seconds(Clock::now()));
    }
    std::vector<unsigned char> jpeg;
    try {
        cv::Mat shown = DrawTracking(frame, contacts, *model, number, fps);
        if (shown.cols > kViewWidth) {
            cv::resize(shown, shown, cv::Size(), static_cast<double>(kViewWidth) / shown.cols,
                       static_cast<double>(kViewWidth) / shown.cols, cv::INTER_AREA);
        }
        cv::imencode(".jpg", shown, jpeg, {cv::IMWRITE_JPEG_QUALITY, 80});
    } catch (const cv::Exception&) {
        jpeg.clear();
    }
    return jpeg;
}

std::string HealthBoard::Summary() const {
    const double now = Seconds(Clock::now());
    const std::lock_guard<std::mutex> lock(m_);
    std::string out;
    double drift = 0.0;
    for (const Camera& c : cams_) {
        char part[96];
        std::snprintf(part, sizeof part, "%s%.1f", out.empty() ? "" : "/", Rate(c, now));
        out += part;
        drift = std::max(drift, c.drift.display);
    }
    const std::size_t down = Down(fused_ ? surface_ : (cams_.empty() ? std::vector<Contact>() : cams_.front().contacts));
    char tail[128];
    std::snprintf(tail, sizeof tail, " frames/s, %zu contacts, drift %.1f display px", down, drift);
    return out + tail;
}

}  // namespace quarvel::cli
