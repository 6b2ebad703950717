// The fusion of several cameras' contacts into one surface.

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "fusion/fusion_state.h"

namespace quarvel {
namespace detail {

namespace {

// A contact is carried along its motion by at most this long (seconds):
// cameras out of step by a frame or two, not a camera that stalled.
constexpr double kLongestCarry = 0.1;
// Where every camera sees a finger only at its edge, the mix still has a
// position.
constexpr double kLeastWeight = 1e-3;
// A coasting contact is only where its camera predicts the finger.
constexpr double kCoastingWeight = 0.25;

}  // namespace

int FusionState::Add(FusionCamera camera) {
    camera.lastTime = std::numeric_limits<double>::quiet_NaN();
    camera.frames = 0;
    cameras_.push_back({std::move(camera), {}, {}});
    return static_cast<int>(cameras_.size()) - 1;
}

bool FusionState::Push(int camera, const TouchFrame& frame) {
    if (camera < 0 || camera >= static_cast<int>(cameras_.size()) || !std::isfinite(frame.t)) {
        return false;
    }
    CameraTrack& track = cameras_[static_cast<std::size_t>(camera)];
    track.contacts.clear();
    for (const Contact& c : frame.contacts) {
        if (c.state == ContactState::Up) {
            track.motion.erase(c.id);
            continue;
        }
        track.contacts.push_back(c);
        const auto known = track.motion.find(c.id);
        if (known == track.motion.end() || c.state == ContactState::Down) {
            track.motion[c.id] = {c.display(), frame.t, {}, false};
            continue;
        }
        CameraTrack::Motion& m = known->second;
        if (frame.t > m.t) {
            m.velocity = (c.display() - m.at) / (frame.t - m.t);
            m.moving = true;
        }
        m.at = c.display();
        m.t = frame.t;
    }
    // Contacts that went without a word (a tracker that started over).
    for (auto it = track.motion.begin(); it != track.motion.end();) {
        it = it->second.t == frame.t ? std::next(it) : track.motion.erase(it);
    }
    track.info.lastTime = frame.t;
    ++track.info.frames;
    return true;
}

void FusionState::Restart(int camera) {
    if (camera < 0 || camera >= static_cast<int>(cameras_.size())) {
        return;
    }
    CameraTrack& track = cameras_[static_cast<std::size_t>(camera)];
    track.contacts.clear();
    track.motion.clear();
    track.info.lastTime = std::numeric_limits<double>::quiet_NaN();
    for (auto it = surfaceOf_.begin(); it != surfaceOf_.end();) {
        it = it->first.first == camera ? surfaceOf_.erase(it) : std::next(it);
    }
}

std::vector<Sighting> FusionState::Sightings(double seconds) const {
    std::vector<Sighting> sightings;
    for (std::size_t k = 0; k < cameras_.size(); ++k) {
        const CameraTrack& track = cameras_[k];
        const double t = track.info.lastTime;
        if (!std::isfinite(t) || seconds - t > options_.silentSeconds) {
            continue;  // not heard from yet, or gone
        }
        const double carry = std::clamp(seconds - t, -kLongestCarry, kLongestCarry);
        for (const Contact& c : track.contacts) {
            Sighting s;
            s.camera = static_cast<int>(k);
            s.id = c.id;
            s.contact = &c;
            s.at = c.display();
            const auto m = track.motion.find(c.id);
            s.carry = carry;
            if (m != track.motion.end() && m->second.moving) {
                s.velocity = m->second.velocity;
                s.moving = true;
                s.at += s.velocity * carry;
            }
            const double w = EdgeWeight(c.camera(), track.info.image, track.info.fingerDiameter, options_.edgeFingers);
            s.weight = std::max(w, kLeastWeight) * (c.state == ContactState::Coasting ? kCoastingWeight : 1.0);
            s.join = track.info.fingerOnDisplay;
            sightings.push_back(s);
        }
    }
    return sightings;
}

std::vector<long long> FusionState::CarriedIds(const std::vector<Sighting>& sightings,
                                               const std::vector<Cluster>& clusters) const {
    // Each cluster carries on the oldest id one of its sightings had; where
    // two clusters had the same (a pair that split), the one that weighs
    // most keeps it.
    std::vector<std::size_t> order(clusters.size());
    std::vector<double> weight(clusters.size(), 0.0);
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        order[i] = i;
        for (const std::size_t s : clusters[i]) {
            weight[i] += sightings[s].weight;
        }
    }
    std::sort(order.begin(), order.end(), [&weight](std::size_t a, std::size_t b) { return weight[a] > weight[b]; });
    std::vector<long long> ids(clusters.size(), 0);
    std::set<long long> taken;
    for (const std::size_t i : order) {
        long long best = 0;
        for (const std::size_t s : clusters[i]) {
            const auto it = surfaceOf_.find({sightings[s].camera, sightings[s].id});
            if (it != surfaceOf_.end() && live_.count(it->second) != 0 && taken.count(it->second) == 0 &&
                (best == 0 || it->second < best)) {
                best = it->second;
            }
        }
        if (best != 0) {
            taken.insert(best);
        }
        ids[i] = best;
    }
    return ids;
}

Contact FusionState::Mixed(const std::vector<Sighting>& sightings, const Cluster& cluster) const {
    Contact out;
    // A camera's first sighting of a finger has no motion of its own yet:
    // it moves as the other cameras see the finger move.
    cv::Point2d velocity;
    double measured = 0.0;
    for (const std::size_t s : cluster) {
        if (sightings[s].moving) {
            velocity += sightings[s].weight * sightings[s].velocity;
            measured += sightings[s].weight;
        }
    }
    cv::Point2d sum;
    double total = 0.0;
    double heaviest = -1.0;
    bool coasting = true;
    for (const std::size_t s : cluster) {
        const Sighting& seen = sightings[s];
        const cv::Point2d at = seen.moving || measured <= 0.0 ? seen.at : seen.at + velocity / measured * seen.carry;
        sum += seen.weight * at;
        total += seen.weight;
        coasting = coasting && seen.contact->state == ContactState::Coasting;
        if (seen.weight > heaviest) {
            heaviest = seen.weight;
            out.cx = seen.contact->cx;
            out.cy = seen.contact->cy;
            out.area = seen.contact->area;
        }
    }
    out.x = sum.x / total;
    out.y = sum.y / total;
    out.state = coasting ? ContactState::Coasting : ContactState::Move;
    return out;
}

void FusionState::Lift(const std::map<long long, Contact>& still) {
    for (const auto& [id, last] : live_) {
        if (still.count(id) == 0) {
            Contact up = last;
            up.state = ContactState::Up;
            out_.contacts.push_back(up);
        }
    }
    live_ = still;
}

const TouchFrame& FusionState::Fuse(double seconds) {
    out_ = TouchFrame();
    out_.frame = fused_++;
    out_.t = seconds;
    if (!std::isfinite(seconds)) {
        out_.status.ok = false;
        out_.status.reason = "the time is not finite";
        return out_;
    }
    const std::vector<Sighting> sightings = Sightings(seconds);
    std::vector<long long> previous(sightings.size(), 0);
    for (std::size_t s = 0; s < sightings.size(); ++s) {
        const auto it = surfaceOf_.find({sightings[s].camera, sightings[s].id});
        previous[s] = it != surfaceOf_.end() ? it->second : 0;
    }
    const std::vector<Cluster> clusters = JoinSightings(sightings, options_.joinDistance, previous);
    const std::vector<long long> carried = CarriedIds(sightings, clusters);
    std::map<long long, Contact> still;
    surfaceOf_.clear();
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        Contact c = Mixed(sightings, clusters[i]);
        c.id = carried[i] != 0 ? carried[i] : nextId_++;
        if (carried[i] == 0) {
            c.state = ContactState::Down;
        }
        for (const std::size_t s : clusters[i]) {
            surfaceOf_[{sightings[s].camera, sightings[s].id}] = c.id;
        }
        still[c.id] = c;
    }
    for (const auto& [id, c] : still) {
        out_.contacts.push_back(c);
    }
    Lift(still);
    return out_;
}

const TouchFrame& FusionState::LiftAll() {
    out_ = TouchFrame();
    out_.frame = fused_;
    out_.t = 0.0;
    for (const CameraTrack& track : cameras_) {
        out_.t = std::max(out_.t, std::isfinite(track.info.lastTime) ? track.info.lastTime : 0.0);
    }
    Lift({});
    surfaceOf_.clear();
    for (CameraTrack& track : cameras_) {
        track.contacts.clear();
        track.motion.clear();
    }
    return out_;
}

std::vector<FusionCamera> FusionState::Cameras() const {
    std::vector<FusionCamera> out;
    for (const CameraTrack& track : cameras_) {
        out.push_back(track.info);
    }
    return out;
}

}  // namespace detail

namespace {

// The finger's diameter on the display where the camera's centre looks.
double FingerOnDisplay(const Model& calibration, double finger) {
    const cv::Point2d centre(calibration.params().imageWidth / 2.0 - 0.5, calibration.params().imageHeight / 2.0 - 0.5);
    const cv::Point2d at = calibration.CorrectPointSubpixel(centre);
    const double across = cv::norm(calibration.CorrectPointSubpixel(centre + cv::Point2d(finger, 0.0)) - at);
    const double down = cv::norm(calibration.CorrectPointSubpixel(centre + cv::Point2d(0.0, finger)) - at);
    const double d = 0.5 * (across + down);
    return std::isfinite(d) && d > 0.0 ? d : finger;
}

}  // namespace

TouchFusion::TouchFusion(const FusionOptions& options) : state_(std::make_unique<detail::FusionState>(options)) {}
TouchFusion::~TouchFusion() = default;
TouchFusion::TouchFusion(TouchFusion&&) noexcept = default;
TouchFusion& TouchFusion::operator=(TouchFusion&&) noexcept = default;

int TouchFusion::AddCamera(const std::string& name, const Model& calibration, double fingerDiameter) {
    FusionCamera camera;
    camera.name = name;
    camera.image = cv::Size(calibration.params().imageWidth, calibration.params().imageHeight);
    camera.fingerDiameter = fingerDiameter > 0.0 ? fingerDiameter
                                                 : std::max(camera.image.width, camera.image.height) / 64.0;
    camera.fingerOnDisplay = FingerOnDisplay(calibration, camera.fingerDiameter);
    return state_->Add(std::move(camera));
}

bool TouchFusion::Push(int camera, const TouchFrame& frame) { return state_->Push(camera, frame); }
void TouchFusion::Restart(int camera) { state_->Restart(camera); }
const TouchFrame& TouchFusion::Fuse(double seconds) { return state_->Fuse(seconds); }
const TouchFrame& TouchFusion::LiftAll() { return state_->LiftAll(); }
std::vector<FusionCamera> TouchFusion::cameras() const { return state_->Cameras(); }
const FusionOptions& TouchFusion::options() const noexcept { return state_->options(); }

}  // namespace quarvel
