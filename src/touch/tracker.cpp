#include <quarvel/touch.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "base/grey_frame.h"
#include "touch/blob_detector.h"
#include "touch/follower.h"
#include "touch/options.h"

namespace quarvel {
namespace detail {

// A camera that repeats one frame for longer than this has frozen.
constexpr double kFrozenSeconds = 1.0;

// What a TouchTracker holds: the frames as they come (refused, repeated,
// frozen, another size), the blob detector, and the tracks it follows.
class TrackerState {
public:
    TrackerState(const Model& model, const TrackerOptions& options);

    // The frame `out` is being filled for (its number and time set).
    void Step(const cv::Mat& frame);
    void LiftAll();

    TouchFrame out;
    const TrackerOptions options;
    BlobDetector detector;
    Follower follower;
    DriftWatch drift;
    DriftStatus driftStatus;
    long long frames = 0;

private:
    bool Repeated(const cv::Mat& grey) const;
    // The last frame again, within a second: the contacts of the frame
    // before, none lifting and none new.
    void Again();
    void Detect(const cv::Mat& grey, std::vector<Contact>& ups);
    // The contacts by id, then those that lifted.
    void Finish(std::vector<Contact>& ups);
    // Every half second, the background against the one first learned.
    void WatchDrift(const cv::Mat& grey);

    std::vector<Blob> blobs_;
    double lastDrift_ = 0.0;    // when the drift was last measured
    long long relearnedSeen_ = 0;  // the background's relearned regions when last looked at
    double changedAt_ = -1.0;   // when it last took in a region not yet measured after (-1: none)
    cv::Mat last_;       // the last frame, grey, to know it again
    double fresh_ = 0.0;  // when it came
};

TrackerState::TrackerState(const Model& model, const TrackerOptions& o)
    : options(SaneTrackerOptions(o)), detector(options.blobs), follower(model, options) {
    follower.Follow(&drift);
}

void TrackerState::WatchDrift(const cv::Mat& grey) {
    if (!drift.hasReference()) {
        drift.Reference(detector.backgroundValues());
        lastDrift_ = out.t;
        relearnedSeen_ = detector.status().relearned;
        return;
    }
    // The camera can only have moved where the picture changed: half a
    // second after the background took in a changed region (a knock moves
    // every edge at once), and every ten seconds for a slow sag.
    constexpr double kSettleSeconds = 0.5;
    constexpr double kEverySeconds = 10.0;
    const long long relearned = detector.status().relearned;
    if (relearned != relearnedSeen_) {
        relearnedSeen_ = relearned;
        changedAt_ = out.t;
    }
    const bool settled = changedAt_ >= 0.0 && out.t - changedAt_ >= kSettleSeconds;
    const bool due = out.t - lastDrift_ >= kEverySeconds || out.t < lastDrift_;
    if (!settled && !due) {
        return;
    }
    changedAt_ = -1.0;
    lastDrift_ = out.t;
    driftStatus.frame = out.frame;
    cv::Mat now;
    grey.convertTo(now, CV_32F);
    if (!drift.Measure(now)) {
        return;
    }
    const cv::Matx23d& m = drift.motion();
    const cv::Size size = detector.size();
    const Model& model = follower.model();
    DriftStatus s;
    s.measured = true;
    s.frame = out.frame;
    const cv::Point2d centre(size.width / 2.0 - 0.5, size.height / 2.0 - 0.5);
    const auto moved = [&m](const cv::Point2d& p) {
        return cv::Point2d(m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2), m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2));
    };
    s.dx = moved(centre).x - centre.x;
    s.dy = moved(centre).y - centre.y;
    s.degrees = std::atan2(m(0, 1), m(0, 0)) * 180.0 / M_PI;
    // The image's corners, edge middles and centre.
    for (const double fx : {0.0, 0.5, 1.0}) {
        for (const double fy : {0.0, 0.5, 1.0}) {
            const cv::Point2d p(fx * (size.width - 1), fy * (size.height - 1));
            s.camera = std::max(s.camera, cv::norm(moved(p) - p));
            const double shift = cv::norm(model.CorrectPointSubpixel(moved(p)) - model.CorrectPointSubpixel(p));
            if (std::isfinite(shift)) {
                s.display = std::max(s.display, shift);
            }
        }
    }
    driftStatus = s;
}

bool TrackerState::Repeated(const cv::Mat& grey) const {
    if (last_.size() != grey.size() || last_.type() != grey.type()) {
        return false;
    }
    for (int y = 0; y < grey.rows; ++y) {
        if (std::memcmp(last_.ptr(y), grey.ptr(y), static_cast<std::size_t>(grey.cols)) != 0) {
            return false;
        }
    }
    return true;
}

void TrackerState::Again() {
    std::vector<Contact>& contacts = out.contacts;
    contacts.erase(std::remove_if(contacts.begin(), contacts.end(), [](const Contact& c) { return !c.down(); }),
                   contacts.end());
    for (Contact& c : contacts) {
        if (c.state == ContactState::Down) {
            c.state = ContactState::Move;
        }
    }
}

void TrackerState::Finish(std::vector<Contact>& ups) {
    std::stable_sort(out.contacts.begin(), out.contacts.end(),
                     [](const Contact& a, const Contact& b) { return a.id < b.id; });
    out.contacts.insert(out.contacts.end(), ups.begin(), ups.end());
}

void TrackerState::Detect(const cv::Mat& grey, std::vector<Contact>& ups) {
    switch (detector.Detect(grey, blobs_, follower.Expected())) {
        case BlobDetector::Outcome::Learning:
            follower.LiftAll(ups);  // (a scene that changed past recognition is learned again)
            break;
        case BlobDetector::Outcome::Lost:
            out.status.lost = true;
            follower.CoastAll(detector.size(), out.contacts, ups);
            break;
        case BlobDetector::Outcome::Detected:
            WatchDrift(grey);
            follower.Follow(detector, grey, blobs_, out.t, out.contacts, ups);
            break;
    }
}

void TrackerState::Step(const cv::Mat& frame) {
    std::vector<Contact> ups;
    const cv::Mat grey = GreyFrame(frame);
    if (grey.empty()) {
        out.status.ok = false;
        out.status.reason = frame.empty() ? "the frame is empty" : "the frame is not an 8-bit grey, BGR or BGRA image";
        out.contacts.clear();
        follower.CoastAll(detector.size(), out.contacts, ups);  // as through a lost frame
        Finish(ups);
        return;
    }
    const bool same = Repeated(grey);
    if (same && out.t - fresh_ <= kFrozenSeconds) {
        // The camera gave the same frame again: nothing moved.
        out.status.repeated = true;
        Again();
        return;
    }
    out.contacts.clear();
    if (same) {
        // The same frame for a second: a camera that froze sees nothing.
        out.status.repeated = true;
        out.status.lost = true;
        follower.CoastAll(detector.size(), out.contacts, ups);
        Finish(ups);
        return;
    }
    grey.copyTo(last_);
    fresh_ = out.t;
    if (grey.size() != detector.size()) {
        follower.LiftAll(ups);  // the detector starts over for the new size
        drift = DriftWatch();
        driftStatus = DriftStatus();
    }
    Detect(grey, ups);
    Finish(ups);
}

void TrackerState::LiftAll() {
    out.status = FrameStatus();
    out.contacts.clear();
    try {
        follower.LiftAll(out.contacts);
    } catch (const std::exception&) {
        std::vector<Contact> none;
        follower.LiftAll(none);  // no memory to report them: they are gone all the same
    }
}

}  // namespace detail

TouchTracker::TouchTracker(const Model& calibration, const TrackerOptions& options)
    : state_(std::make_unique<detail::TrackerState>(calibration, options)) {}

TouchTracker::~TouchTracker() = default;
TouchTracker::TouchTracker(TouchTracker&&) noexcept = default;
TouchTracker& TouchTracker::operator=(TouchTracker&&) noexcept = default;

const TouchFrame& TouchTracker::Track(const cv::Mat& frame, double seconds) {
    detail::TrackerState& s = *state_;
    TouchFrame& out = s.out;
    out.frame = s.frames++;
    out.t = std::isfinite(seconds) ? seconds : static_cast<double>(out.frame) / s.options.framesPerSecond;
    out.status = FrameStatus();
    try {
        s.Step(frame);
    } catch (const std::exception& e) {
        // Out of memory or an OpenCV failure on a strange frame: nothing
        // is reported for it, and what was followed stays followed.
        out.contacts.clear();
        out.status.ok = false;
        out.status.reason = std::string("the frame could not be processed: ") + e.what();
    }
    return out;
}

const TouchFrame& TouchTracker::LiftAll() {
    state_->LiftAll();
    return state_->out;
}

void TouchTracker::Recalibrate(const Model& calibration) {
    state_->follower.SetModel(calibration);
    // The new calibration was made for the camera where it stands now.
    state_->drift = detail::DriftWatch();
    state_->driftStatus = DriftStatus();
}

BackgroundStatus TouchTracker::background() const noexcept { return state_->detector.status(); }
DriftStatus TouchTracker::drift() const noexcept { return state_->driftStatus; }

bool TouchTracker::learning() const noexcept { return state_->detector.learning(); }
long long TouchTracker::frames() const noexcept { return state_->frames; }
const Model& TouchTracker::calibration() const noexcept { return state_->follower.model(); }
const TrackerOptions& TouchTracker::options() const noexcept { return state_->options; }

}  // namespace quarvel
