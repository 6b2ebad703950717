#include "touch/follower.h"

#include <algorithm>
#include <cmath>

#include "touch/assignment.h"

namespace quarvel::detail {
namespace {

// In a storm of specks, the share of a contact's measured offset from
// where its motion predicts it that is believed.
constexpr double kStormTrust = 0.4;
constexpr double kStormSpeedTrust = 0.15;
// The least share of a contact's area its blob in the next frame has.
constexpr double kLeastAreaShare = 0.3;
// A blob that holds this much more light than the largest of the contacts
// that moved into it holds more than one of them.
constexpr double kMergedShare = 1.3;

}  // namespace

Follower::Follower(const Model& model, const TrackerOptions& options) : model_(model), options_(options) {}

Contact Follower::Report(const Track& t, ContactState state, const cv::Point2d& at) const {
    Contact c;
    c.id = t.id;
    c.cx = at.x;
    c.cy = at.y;
    const bool back = drift_ != nullptr && options_.followDrift && drift_->measured();
    const cv::Point2d d = model_.CorrectPointSubpixel(back ? drift_->Back(at) : at);
    c.x = d.x;
    c.y = d.y;
    c.area = t.area;
    c.state = state;
    return c;
}

std::vector<cv::Point2d> Follower::Expected() const {
    std::vector<cv::Point2d> expected;
    for (const Track& t : tracks_) {
        if (t.contact()) {
            expected.push_back(t.Predicted());
        }
    }
    return expected;
}

double Follower::Gate(const BlobDetector& detector, const Track& t) const {
    if (options_.maxJump > 0.0 && std::isfinite(options_.maxJump)) {
        return options_.maxJump;
    }
    if (!t.contact()) {
        // A finger seen once: its speed is not known yet.
        const cv::Size size = detector.size();
        return std::max(size.width, size.height) / 8.0;
    }
    return 1.5 * detector.fingerDiameter() + cv::norm(t.velocity) * (1 + t.missing);
}

void Follower::LiftAll(std::vector<Contact>& ups) {
    for (const Track& t : tracks_) {
        if (t.contact()) {
            ups.push_back(Report(t, ContactState::Up, t.seen));
        }
    }
    tracks_.clear();
}

void Follower::Coast(cv::Size frame, Track t, std::vector<Track>& next, std::vector<Contact>& contacts,
                     std::vector<Contact>& ups) const {
    if (!t.contact()) {
        return;  // a speck seen once is forgotten
    }
    const cv::Rect2d inside(-0.5, -0.5, frame.width, frame.height);
    if (++t.missing > options_.coastFrames || !inside.contains(t.Predicted())) {
        ups.push_back(Report(t, ContactState::Up, t.seen));  // (past the edge: no more to see)
        return;
    }
    t.phase = Track::Phase::Coasting;
    t.position += t.velocity;
    contacts.push_back(Report(t, ContactState::Coasting, t.position));
    next.push_back(t);
}

void Follower::CoastAll(cv::Size frame, std::vector<Contact>& contacts, std::vector<Contact>& ups) {
    std::vector<Track> next;
    for (const Track& t : tracks_) {
        Coast(frame, t, next, contacts, ups);
    }
    tracks_ = std::move(next);
}

void Follower::SplitMerged(const BlobDetector& detector, const cv::Mat& grey, std::vector<Blob>& blobs,
                           const std::vector<cv::Point2d>& predicted) const {
    std::vector<std::vector<std::size_t>> claims(blobs.size());
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        if (!tracks_[i].contact()) {
            continue;
        }
        double best = Gate(detector, tracks_[i]);
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
            largest = std::max(largest, tracks_[i].area);
            seeds.push_back(predicted[i]);
        }
        if (blobs[j].area < kMergedShare * largest) {
            continue;  // one finger's worth of light: the others went elsewhere
        }
        std::vector<Blob> parts = detector.Split(grey, blobs[j], seeds);
        blobs[j] = parts[0];
        blobs.insert(blobs.end(), parts.begin() + 1, parts.end());
    }
}

std::vector<int> Follower::Match(const BlobDetector& detector, const std::vector<Blob>& blobs,
                                 const std::vector<cv::Point2d>& predicted) const {
    // Contacts first, each within its own gate; then candidates take what
    // is left.
    std::vector<int> match(tracks_.size(), -1);
    std::vector<bool> used(blobs.size(), false);
    for (const bool contacts : {true, false}) {
        std::vector<cv::Point2d> from;
        std::vector<double> gates;
        std::vector<std::size_t> which;
        std::vector<cv::Point2d> to;
        std::vector<std::size_t> free;
        for (std::size_t i = 0; i < tracks_.size(); ++i) {
            if (tracks_[i].contact() == contacts) {
                from.push_back(predicted[i]);
                gates.push_back(Gate(detector, tracks_[i]));
                which.push_back(i);
            }
        }
        for (std::size_t j = 0; j < blobs.size(); ++j) {
            // A quiet blob may go on with a contact, never confirm one.
            if (!used[j] && (contacts || !blobs[j].quiet)) {
                to.push_back(blobs[j].centre);
                free.push_back(j);
            }
        }
        const std::vector<int> m = AssignNearest(from, to, gates);
        for (std::size_t k = 0; k < m.size(); ++k) {
            if (m[k] >= 0) {
                const std::size_t blob = free[static_cast<std::size_t>(m[k])];
                match[which[k]] = static_cast<int>(blob);
                used[blob] = true;
            }
        }
    }
    return match;
}

bool Follower::Update(BlobDetector& detector, const cv::Mat& grey, Track& t, const Blob& b,
                      const cv::Point2d& predicted, double now, std::vector<Contact>& ups) {
    if (detector.storm() && t.contact()) {
        // Specks land on the finger too: its motion is trusted more than
        // where its light seems to be (an alpha-beta filter: the offset
        // moves the position a little and the speed less).
        const cv::Point2d offset = b.centre - predicted;
        t.position = t.seen = predicted + offset * kStormTrust;
        t.velocity += offset * kStormSpeedTrust;
    } else {
        t.velocity = (b.centre - t.seen) / static_cast<double>(t.missing + 1);
        t.position = t.seen = b.centre;
    }
    t.area = b.area;
    t.box = b.box;
    t.missing = 0;
    const bool fresh = !t.contact();
    if (fresh) {
        t.id = nextId_++;
        t.anchor = t.seen;
        t.since = now;
    }
    t.phase = Track::Phase::Down;
    if (cv::norm(t.seen - t.anchor) > options_.absorbPixels) {
        t.anchor = t.seen;
        t.since = now;
    } else if (options_.absorbSeconds > 0.0 && now - t.since >= options_.absorbSeconds) {
        // It has not moved for too long to be a finger: it lifts and
        // becomes background.
        detector.Absorb(grey, t.box);
        if (!fresh) {
            ups.push_back(Report(t, ContactState::Up, t.seen));
        }
        return false;
    }
    return true;
}

void Follower::Births(const std::vector<Blob>& blobs, const std::vector<bool>& used, double now,
                      std::vector<Track>& next, std::vector<Contact>& contacts) {
    for (std::size_t j = 0; j < blobs.size(); ++j) {
        if (used[j] || blobs[j].quiet) {
            continue;
        }
        Track t;
        t.position = t.seen = t.anchor = blobs[j].centre;
        t.area = blobs[j].area;
        t.box = blobs[j].box;
        t.since = now;
        if (!options_.confirmNextFrame) {
            t.phase = Track::Phase::Down;
            t.id = nextId_++;
            contacts.push_back(Report(t, ContactState::Down, t.position));
        }
        next.push_back(t);
    }
}

void Follower::Follow(BlobDetector& detector, const cv::Mat& grey, std::vector<Blob>& blobs, double now,
                      std::vector<Contact>& contacts, std::vector<Contact>& ups) {
    std::vector<cv::Point2d> predicted;
    for (const Track& t : tracks_) {
        predicted.push_back(t.Predicted());
    }
    SplitMerged(detector, grey, blobs, predicted);
    const std::vector<int> match = Match(detector, blobs, predicted);
    std::vector<bool> used(blobs.size(), false);
    for (const int m : match) {
        if (m >= 0) {
            used[static_cast<std::size_t>(m)] = true;
        }
    }
    std::vector<Track> next;
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        Track t = tracks_[i];
        if (match[i] < 0) {
            Coast(detector.size(), t, next, contacts, ups);
            continue;
        }
        const Blob& b = blobs[static_cast<std::size_t>(match[i])];
        if (t.contact() && b.area < kLeastAreaShare * t.area) {
            // A finger's light does not shrink to a speck's between frames:
            // the finger has lifted, and a speck lies near (which may be
            // born itself).
            used[static_cast<std::size_t>(match[i])] = false;
            Coast(detector.size(), t, next, contacts, ups);
            continue;
        }
        const bool fresh = !t.contact();
        if (Update(detector, grey, t, b, predicted[i], now, ups)) {
            contacts.push_back(Report(t, fresh ? ContactState::Down : ContactState::Move, t.position));
            next.push_back(t);
        }
    }
    Births(blobs, used, now, next, contacts);
    tracks_ = std::move(next);
}

}  // namespace quarvel::detail
