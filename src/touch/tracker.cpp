#include <quarvel/touch.h>

#include <algorithm>
#include <cmath>
#include <exception>

#include "camera/grey_frame.h"
#include "touch/assignment.h"
#include "touch/blob_detector.h"

namespace quarvel {
namespace detail {

// A blob followed from frame to frame: confirmed (id > 0) once it is seen
// in a second frame, or at once when the options say so.
struct Track {
    int id = 0;
    cv::Point2d position;  // camera pixels
    cv::Point2d velocity;  // camera pixels per frame
    double area = 0.0;
};

struct TrackerState {
    TrackerState(const Model& m, const TrackerOptions& o) : model(m), options(o), detector(o.blobs) {}

    Model model;
    TrackerOptions options;
    BlobDetector detector;
    std::vector<Track> tracks;
    std::vector<Blob> blobs;
    std::vector<Contact> contacts;
    FrameStatus status;
    int nextId = 1;
    long long frames = 0;

    Contact Report(const Track& t, ContactState state) const {
        Contact c;
        c.id = t.id;
        c.camera = t.position;
        c.display = model.CorrectPointSubpixel(t.position);
        c.area = t.area;
        c.state = state;
        return c;
    }

    // Every confirmed contact lifts; nothing is followed any more.
    void LiftAll(std::vector<Contact>& ups) {
        for (const Track& t : tracks) {
            if (t.id > 0) {
                ups.push_back(Report(t, ContactState::Up));
            }
        }
        tracks.clear();
    }

    double Gate() const {
        if (options.maxJump > 0.0 && std::isfinite(options.maxJump)) {
            return options.maxJump;
        }
        const cv::Size size = detector.size();
        return std::max(size.width, size.height) / 8.0;
    }

    void Step(const cv::Mat& frame) {
        contacts.clear();
        std::vector<Contact> ups;
        const cv::Mat grey = GreyFrame(frame);
        if (grey.empty()) {
            status.ok = false;
            status.reason = frame.empty() ? "the frame is empty" : "the frame is not an 8-bit grey, BGR or BGRA image";
            LiftAll(ups);  // a frame without touches
            contacts = std::move(ups);
            return;
        }
        if (grey.size() != detector.size()) {
            LiftAll(ups);  // the detector starts over for the new size
        }
        if (!detector.Detect(grey, blobs)) {
            contacts = std::move(ups);
            return;
        }

        std::vector<cv::Point2d> predicted, seen;
        for (const Track& t : tracks) {
            predicted.push_back(t.position + t.velocity);
        }
        for (const Blob& b : blobs) {
            seen.push_back(b.centre);
        }
        const std::vector<int> match = AssignNearest(predicted, seen, Gate());
        std::vector<bool> used(blobs.size(), false);
        std::vector<Track> next;
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            Track t = tracks[i];
            if (match[i] < 0) {
                if (t.id > 0) {
                    ups.push_back(Report(t, ContactState::Up));
                }
                continue;  // a speck seen once is forgotten
            }
            const Blob& b = blobs[static_cast<std::size_t>(match[i])];
            used[static_cast<std::size_t>(match[i])] = true;
            t.velocity = b.centre - t.position;
            t.position = b.centre;
            t.area = b.area;
            const bool fresh = t.id == 0;
            if (fresh) {
                t.id = nextId++;
            }
            contacts.push_back(Report(t, fresh ? ContactState::Down : ContactState::Move));
            next.push_back(t);
        }
        for (std::size_t j = 0; j < blobs.size(); ++j) {
            if (used[j]) {
                continue;
            }
            Track t;
            t.position = blobs[j].centre;
            t.area = blobs[j].area;
            if (!options.confirmNextFrame) {
                t.id = nextId++;
                contacts.push_back(Report(t, ContactState::Down));
            }
            next.push_back(t);
        }
        tracks = std::move(next);
        std::stable_sort(contacts.begin(), contacts.end(),
                         [](const Contact& a, const Contact& b) { return a.id < b.id; });
        contacts.insert(contacts.end(), ups.begin(), ups.end());
    }
};

}  // namespace detail

TouchTracker::TouchTracker(const Model& calibration, const TrackerOptions& options)
    : state_(std::make_unique<detail::TrackerState>(calibration, options)) {}

TouchTracker::~TouchTracker() = default;
TouchTracker::TouchTracker(TouchTracker&&) noexcept = default;
TouchTracker& TouchTracker::operator=(TouchTracker&&) noexcept = default;

const std::vector<Contact>& TouchTracker::Track(const cv::Mat& frame) {
    ++state_->frames;
    state_->status = FrameStatus();
    try {
        state_->Step(frame);
    } catch (const std::exception& e) {
        // Out of memory or an OpenCV failure on a strange frame: nothing
        // is reported for it, and what was followed stays followed.
        state_->contacts.clear();
        state_->status.ok = false;
        state_->status.reason = std::string("the frame could not be processed: ") + e.what();
    }
    return state_->contacts;
}

const FrameStatus& TouchTracker::frameStatus() const noexcept { return state_->status; }

bool TouchTracker::learning() const noexcept { return state_->detector.learning(); }
long long TouchTracker::frames() const noexcept { return state_->frames; }
const Model& TouchTracker::calibration() const noexcept { return state_->model; }
const TrackerOptions& TouchTracker::options() const noexcept { return state_->options; }

}  // namespace quarvel
