#ifndef QUARVEL_SRC_FUSION_FUSION_STATE_H
#define QUARVEL_SRC_FUSION_FUSION_STATE_H
// What the fusion keeps between calls: each camera's latest contacts and
// their motion, which surface contact each camera contact joined, and the
// surface contacts reported last.

#include <map>
#include <utility>
#include <vector>

#include <quarvel/fusion.h>

namespace quarvel::detail {

// A camera contact as the fusion sees it at the time asked for.
struct Sighting {
    int camera = 0;
    long long id = 0;         // the camera's own id
    cv::Point2d at;           // display pixels, carried to the time asked for
    cv::Point2d velocity;     // display pixels a second, where measured
    bool moving = false;      // a velocity was measured (not on a contact's first frame)
    double carry = 0.0;       // seconds from its frame to the time asked for
    double weight = 0.0;      // how fully its camera sees it
    double join = 0.0;        // its camera's finger on the display, display pixels
    const Contact* contact = nullptr;
};

// Sightings that are one finger: indices into the sightings of a call.
using Cluster = std::vector<std::size_t>;

// Joins sightings of different cameras closer than their join distance,
// nearest first, never two of one camera in a cluster. `together(i, j)`:
// the two were one finger in the last call (they join within twice the
// distance, so a finger does not split on a seam's small disagreement).
std::vector<Cluster> JoinSightings(const std::vector<Sighting>& sightings, double joinDistance,
                                   const std::vector<long long>& previous);

// How fully a camera sees a blob centred at `centre`: 0 half a finger
// inside the image (cut in two by its edge), 1 `edgeFingers` diameters
// inside and beyond, smooth between.
double EdgeWeight(const cv::Point2d& centre, cv::Size image, double finger, double edgeFingers);

struct CameraTrack {
    FusionCamera info;
    std::vector<Contact> contacts;  // its latest frame's contacts still down
    struct Motion {
        cv::Point2d at;
        double t = 0.0;
        cv::Point2d velocity;  // display pixels a second
        bool moving = false;   // a velocity was measured
    };
    std::map<long long, Motion> motion;  // by the camera's id
};

class FusionState {
public:
    explicit FusionState(const FusionOptions& options) : options_(options) {}

    int Add(FusionCamera camera);
    bool Push(int camera, const TouchFrame& frame);
    void Restart(int camera);
    const TouchFrame& Fuse(double seconds);
    const TouchFrame& LiftAll();
    std::vector<FusionCamera> Cameras() const;
    const FusionOptions& options() const noexcept { return options_; }

private:
    std::vector<Sighting> Sightings(double seconds) const;
    // The surface ids the clusters carry on (0: a new finger).
    std::vector<long long> CarriedIds(const std::vector<Sighting>& sightings, const std::vector<Cluster>& clusters) const;
    Contact Mixed(const std::vector<Sighting>& sightings, const Cluster& cluster) const;
    void Lift(const std::map<long long, Contact>& still);

    FusionOptions options_;
    std::vector<CameraTrack> cameras_;
    std::map<std::pair<int, long long>, long long> surfaceOf_;  // (camera, its id) -> surface id, last call
    std::map<long long, Contact> live_;                         // surface id -> as last reported
    long long nextId_ = 1;
    long long fused_ = 0;
    TouchFrame out_;
};

}  // namespace quarvel::detail

#endif
