#ifndef QUARVEL_SRC_TOUCH_FOLLOWER_H
#define QUARVEL_SRC_TOUCH_FOLLOWER_H

// Blobs followed from frame to frame. A blob seen for the first time is a
// candidate; seen again in the next frame (or at once, when the options
// say so) it becomes a contact with an id of its own. A contact keeps its
// id while each frame's blobs hold one within its gate; unseen, it coasts
// where its motion takes it for a few frames, then lifts. A contact that
// does not move for too long lifts and its blob becomes background.
//
// Each frame: the blobs are matched to the tracks (contacts first, each
// within its own gate; candidates take what is left), the matched tracks
// are updated, the unmatched ones coast or are forgotten, and the blobs
// nothing matched are born as candidates.

#include <vector>

#include <opencv2/core.hpp>

#include <quarvel/model.h>
#include <quarvel/touch.h>

#include "touch/blob_detector.h"
#include "touch/drift.h"

namespace quarvel::detail {

struct Track {
    enum class Phase {
        Candidate,  // seen once: no id yet
        Down,       // a contact, seen in the last frame
        Coasting,   // a contact, unseen for `missing` frames
    };
    Phase phase = Phase::Candidate;
    long long id = 0;
    cv::Point2d position;  // where it was last reported (predicted while coasting)
    cv::Point2d seen;      // where it was last seen
    cv::Point2d velocity;  // camera pixels per frame
    double area = 0.0;
    cv::Rect box;          // its blob's pixels, when last seen
    int missing = 0;       // frames in a row it went unseen
    cv::Point2d anchor;    // where it has stayed since `since`
    double since = 0.0;

    bool contact() const noexcept { return phase != Phase::Candidate; }
    cv::Point2d Predicted() const noexcept { return position + velocity; }
};

class Follower {
public:
    // `options` as SaneTrackerOptions leaves them.
    Follower(const Model& model, const TrackerOptions& options);

    // Where each contact is expected in the next frame.
    std::vector<cv::Point2d> Expected() const;

    // The tracks through a frame the detector found `blobs` in (taken
    // over): contacts down, moving or coasting go to `contacts`, those
    // that lift to `ups`.
    void Follow(BlobDetector& detector, const cv::Mat& grey, std::vector<Blob>& blobs, double now,
                std::vector<Contact>& contacts, std::vector<Contact>& ups);
    // Through a frame that showed nothing (lost, refused): every contact
    // coasts or lifts; candidates are forgotten.
    void CoastAll(cv::Size frame, std::vector<Contact>& contacts, std::vector<Contact>& ups);
    // Every contact lifts where it was last seen; nothing is followed any more.
    void LiftAll(std::vector<Contact>& ups);

    const Model& model() const noexcept { return model_; }
    // Contacts are mapped through `model` from the next frame on.
    void SetModel(const Model& model) { model_ = model; }
    // With followDrift, contacts are mapped where the camera saw them
    // before it moved (the watch outlives the follower's use of it).
    void Follow(const DriftWatch* drift) noexcept { drift_ = drift; }

private:
    // For each track, the index of its blob or -1.
    std::vector<int> Match(const BlobDetector& detector, const std::vector<Blob>& blobs,
                           const std::vector<cv::Point2d>& predicted) const;
    // Blobs two or more contacts moved into, shared out among them.
    void SplitMerged(const BlobDetector& detector, const cv::Mat& grey, std::vector<Blob>& blobs,
                     const std::vector<cv::Point2d>& predicted) const;
    // A matched track takes its blob; false when the track lifts instead.
    bool Update(BlobDetector& detector, const cv::Mat& grey, Track& t, const Blob& b, const cv::Point2d& predicted,
                double now, std::vector<Contact>& ups);
    void Births(const std::vector<Blob>& blobs, const std::vector<bool>& used, double now, std::vector<Track>& next,
                std::vector<Contact>& contacts);
    void Coast(cv::Size frame, Track t, std::vector<Track>& next, std::vector<Contact>& contacts,
               std::vector<Contact>& ups) const;
    double Gate(const BlobDetector& detector, const Track& t) const;
    Contact Report(const Track& t, ContactState state, const cv::Point2d& at) const;

    Model model_;
    TrackerOptions options_;
    const DriftWatch* drift_ = nullptr;
    std::vector<Track> tracks_;
    long long nextId_ = 1;
};

}  // namespace quarvel::detail

#endif
