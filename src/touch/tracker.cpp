#include <quarvel/touch.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "base/grey_frame.h"
#include "touch/assignment.h"
#include "touch/blob_detector.h"
#include "touch/options.h"

namespace quarvel {
namespace detail {

// A camera that repeats one frame for longer than this has frozen.
constexpr double kFrozenSeconds = 1.0;
// In a storm of specks, the share of a contact's measured offset from
// where its motion predicts it that is believed.
constexpr double kStormTrust = 0.4;
constexpr double kStormSpeedTrust = 0.15;
// The least share of a contact's area its blob in the next frame has.
constexpr double kLeastAreaShare = 0.3;

// A blob followed from frame to frame: confirmed (id > 0) once it is seen
// in a second frame, or at once when the options say so.
struct Track {
    long long id = 0;
    cv::Point2d position;  // where it was last reported (predicted while unseen)
    cv::Point2d seen;      // where it was last seen
    cv::Point2d velocity;  // camera pixels per frame
    double area = 0.0;
    cv::Rect box;          // its blob's pixels, when last seen
    int missing = 0;       // frames in a row it went unseen
    cv::Point2d anchor;    // where it has stayed since `since`
    double since = 0.0;
};

struct TrackerState {
    TrackerState(const Model& m, const TrackerOptions& o)
        : model(m), options(SaneTrackerOptions(o)), detector(options.blobs) {}

    Model model;
    TrackerOptions options;
    BlobDetector detector;
    std::vector<Track> tracks;
    std::vector<Blob> blobs;
    std::vector<Contact> contacts;
    FrameStatus status;
    cv::Mat last;  // the last frame, grey, to know it again
    double fresh = 0.0;  // when it came
    long long nextId = 1;
    long long frames = 0;

    Contact Report(const Track& t, ContactState state, const cv::Point2d& at) const {
        Contact c;
        c.id = t.id;
        c.camera = at;
        c.display = model.CorrectPointSubpixel(at);
        c.area = t.area;
        c.state = state;
        return c;
    }

    // Every confirmed contact lifts, where it was last seen; nothing is
    // followed any more.
    void LiftAll(std::vector<Contact>& ups) {
        for (const Track& t : tracks) {
            if (t.id > 0) {
                ups.push_back(Report(t, ContactState::Up, t.seen));
            }
        }
        tracks.clear();
    }

    double Gate(const Track& t) const {
        if (options.maxJump > 0.0 && std::isfinite(options.maxJump)) {
            return options.maxJump;
        }
        const cv::Size size = detector.size();
        if (t.id == 0) {
            // A finger seen once: its speed is not known yet.
            return std::max(size.width, size.height) / 8.0;
        }
        return 1.5 * detector.fingerDiameter() + cv::norm(t.velocity) * (1 + t.missing);
    }

    // The contacts go unseen this frame: each coasts where its motion
    // takes it, or lifts once it has been unseen for too long.
    void Coast(std::vector<Track>& next, Track t, std::vector<Contact>& ups) {
        if (t.id == 0) {
            return;  // a speck seen once is forgotten
        }
        const cv::Rect2d frame(-0.5, -0.5, detector.size().width, detector.size().height);
        if (++t.missing > options.coastFrames || !frame.contains(t.position + t.velocity)) {
            ups.push_back(Report(t, ContactState::Up, t.seen));  // (it went past the edge: no more to see)
            return;
        }
        t.position += t.velocity;
        contacts.push_back(Report(t, ContactState::Move, t.position));
        next.push_back(t);
    }

    void CoastAll(std::vector<Contact>& ups) {
        std::vector<Track> next;
        for (const Track& t : tracks) {
            Coast(next, t, ups);
        }
        tracks = std::move(next);
    }

    bool Repeated(const cv::Mat& grey) {
        if (last.size() != grey.size() || last.type() != grey.type()) {
            return false;
        }
        for (int y = 0; y < grey.rows; ++y) {
            if (std::memcmp(last.ptr(y), grey.ptr(y), static_cast<std::size_t>(grey.cols)) != 0) {
                return false;
            }
        }
        return true;
    }

    // Blobs that two or more contacts moved into (fingers passing close
    // enough for their light to join) are shared out among them.
    void SplitMerged(const cv::Mat& grey, const std::vector<cv::Point2d>& predicted) {
        std::vector<std::vector<std::size_t>> claims(blobs.size());
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            if (tracks[i].id == 0) {
                continue;
            }
            double best = Gate(tracks[i]);
            int nearest = -1;
            for (std::size_t j = 0; j < blobs.size(); ++j) {
                const double d = cv::norm(blobs[j].centre - predicted[i]);
                if (d <= best) {
                    best = d;
                    nearest = static_cast<int>(j);
                }
            }
            if (nearest >= 0) {
                claims[static_cast<std::size_t>(nearest)].push_back(i);
            }
        }
        const std::size_t count = blobs.size();
        for (std::size_t j = 0; j < count; ++j) {
            if (claims[j].size() < 2) {
                continue;
            }
            double largest = 0.0;
            std::vector<cv::Point2d> seeds;
            for (const std::size_t i : claims[j]) {
                largest = std::max(largest, tracks[i].area);
                seeds.push_back(predicted[i]);
            }
            if (blobs[j].area < 1.3 * largest) {
                continue;  // one finger's worth of light: the others went elsewhere
            }
            std::vector<Blob> parts = detector.Split(grey, blobs[j], seeds);
            blobs[j] = parts[0];
            blobs.insert(blobs.end(), parts.begin() + 1, parts.end());
        }
    }

    void Follow(const cv::Mat& grey, double now, std::vector<Contact>& ups) {
        std::vector<cv::Point2d> predicted;
        for (const Track& t : tracks) {
            predicted.push_back(t.position + t.velocity);
        }
        SplitMerged(grey, predicted);
        std::vector<cv::Point2d> seen;
        for (const Blob& b : blobs) {
            seen.push_back(b.centre);
        }
        // Contacts first, each within its own gate; then fingers seen once
        // take what is left.
        std::vector<int> match(tracks.size(), -1);
        std::vector<bool> used(blobs.size(), false);
        for (const bool confirmed : {true, false}) {
            std::vector<cv::Point2d> from;
            std::vector<double> gates;
            std::vector<std::size_t> which;
            std::vector<cv::Point2d> to;
            std::vector<std::size_t> free;
            for (std::size_t i = 0; i < tracks.size(); ++i) {
                if ((tracks[i].id > 0) == confirmed) {
                    from.push_back(predicted[i]);
                    gates.push_back(Gate(tracks[i]));
                    which.push_back(i);
                }
            }
            for (std::size_t j = 0; j < blobs.size(); ++j) {
                // A quiet blob may go on with a contact, never confirm one.
                if (!used[j] && (confirmed || !blobs[j].quiet)) {
                    to.push_back(seen[j]);
                    free.push_back(j);
                }
            }
            const std::vector<int> m = AssignNearest(from, to, gates);
            for (std::size_t k = 0; k < m.size(); ++k) {
                if (m[k] >= 0) {
                    match[which[k]] = static_cast<int>(free[static_cast<std::size_t>(m[k])]);
                    used[free[static_cast<std::size_t>(m[k])]] = true;
                }
            }
        }

        std::vector<Track> next;
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            Track t = tracks[i];
            if (match[i] < 0) {
                Coast(next, t, ups);
                continue;
            }
            const Blob& b = blobs[static_cast<std::size_t>(match[i])];
            if (t.id > 0 && b.area < kLeastAreaShare * t.area) {
                // A finger's light does not shrink to a speck's between
                // frames: the finger has lifted, and a speck lies near.
                used[static_cast<std::size_t>(match[i])] = false;
                Coast(next, t, ups);
                continue;
            }
            if (detector.storm() && t.id > 0) {
                // Specks land on the finger too: its motion is trusted
                // more than where its light seems to be (an alpha-beta
                // filter: the offset moves the position a little and the
                // speed less).
                const cv::Point2d offset = b.centre - predicted[i];
                t.position = t.seen = predicted[i] + offset * kStormTrust;
                t.velocity += offset * kStormSpeedTrust;
            } else {
                t.velocity = (b.centre - t.seen) / static_cast<double>(t.missing + 1);
                t.position = t.seen = b.centre;
            }
            t.area = b.area;
            t.box = b.box;
            t.missing = 0;
            const bool fresh = t.id == 0;
            if (fresh) {
                t.id = nextId++;
                t.anchor = t.seen;
                t.since = now;
            }
            if (cv::norm(t.seen - t.anchor) > options.absorbPixels) {
                t.anchor = t.seen;
                t.since = now;
            } else if (options.absorbSeconds > 0.0 && now - t.since >= options.absorbSeconds) {
                // It has not moved for too long to be a finger: it lifts
                // and becomes background.
                detector.Absorb(grey, t.box);
                if (!fresh) {
                    ups.push_back(Report(t, ContactState::Up, t.seen));
                }
                continue;
            }
            contacts.push_back(Report(t, fresh ? ContactState::Down : ContactState::Move, t.position));
            next.push_back(t);
        }
        for (std::size_t j = 0; j < blobs.size(); ++j) {
            if (used[j] || blobs[j].quiet) {
                continue;
            }
            Track t;
            t.position = t.seen = t.anchor = blobs[j].centre;
            t.area = blobs[j].area;
            t.box = blobs[j].box;
            t.since = now;
            if (!options.confirmNextFrame) {
                t.id = nextId++;
                contacts.push_back(Report(t, ContactState::Down, t.position));
            }
            next.push_back(t);
        }
        tracks = std::move(next);
    }

    void Step(const cv::Mat& frame, double seconds) {
        const double now = std::isfinite(seconds) ? seconds : static_cast<double>(frames - 1) / options.framesPerSecond;
        std::vector<Contact> ups;
        const cv::Mat grey = GreyFrame(frame);
        if (grey.empty()) {
            status.ok = false;
            status.reason = frame.empty() ? "the frame is empty" : "the frame is not an 8-bit grey, BGR or BGRA image";
            contacts.clear();
            CoastAll(ups);  // as through a lost frame
            Finish(ups);
            return;
        }
        const bool same = Repeated(grey);
        if (same && now - fresh <= kFrozenSeconds) {
            // The camera gave the same frame again: nothing moved.
            status.repeated = true;
            contacts.erase(std::remove_if(contacts.begin(), contacts.end(),
                                          [](const Contact& c) { return c.state == ContactState::Up; }),
                           contacts.end());
            for (Contact& c : contacts) {
                c.state = ContactState::Move;
            }
            return;
        }
        contacts.clear();
        if (same) {
            // The same frame for a second: a camera that froze sees nothing.
            status.repeated = true;
            status.lost = true;
            CoastAll(ups);
            Finish(ups);
            return;
        }
        grey.copyTo(last);
        fresh = now;
        if (grey.size() != detector.size()) {
            LiftAll(ups);  // the detector starts over for the new size
        }
        std::vector<cv::Point2d> expected;
        for (const Track& t : tracks) {
            if (t.id > 0) {
                expected.push_back(t.position + t.velocity);
            }
        }
        switch (detector.Detect(grey, blobs, expected)) {
            case BlobDetector::Outcome::Learning:
                LiftAll(ups);  // (a scene that changed past recognition is learned again)
                break;
            case BlobDetector::Outcome::Lost:
                status.lost = true;
                CoastAll(ups);
                break;
            case BlobDetector::Outcome::Detected:
                Follow(grey, now, ups);
                break;
        }
        Finish(ups);
    }

    void Finish(std::vector<Contact>& ups) {
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

const std::vector<Contact>& TouchTracker::Track(const cv::Mat& frame, double seconds) {
    ++state_->frames;
    state_->status = FrameStatus();
    try {
        state_->Step(frame, seconds);
    } catch (const std::exception& e) {
        // Out of memory or an OpenCV failure on a strange frame: nothing
        // is reported for it, and what was followed stays followed.
        state_->contacts.clear();
        state_->status.ok = false;
        state_->status.reason = std::string("the frame could not be processed: ") + e.what();
    }
    return state_->contacts;
}

const std::vector<Contact>& TouchTracker::LiftAll() {
    state_->contacts.clear();
    try {
        state_->LiftAll(state_->contacts);
    } catch (const std::exception&) {
        state_->tracks.clear();  // no memory to report them: they are gone all the same
    }
    return state_->contacts;
}

const FrameStatus& TouchTracker::frameStatus() const noexcept { return state_->status; }
BackgroundStatus TouchTracker::background() const noexcept { return state_->detector.status(); }

bool TouchTracker::learning() const noexcept { return state_->detector.learning(); }
long long TouchTracker::frames() const noexcept { return state_->frames; }
const Model& TouchTracker::calibration() const noexcept { return state_->model; }
const TrackerOptions& TouchTracker::options() const noexcept { return state_->options; }

}  // namespace quarvel
