// Which sightings of different cameras are one finger.

#include <algorithm>
#include <cmath>
#include <numeric>

#include "fusion/fusion_state.h"

namespace quarvel::detail {

double EdgeWeight(const cv::Point2d& centre, cv::Size image, double finger, double edgeFingers) {
    // Pixel centres are whole numbers: the image spans -0.5 .. size - 0.5.
    const double inside = std::min({centre.x + 0.5, centre.y + 0.5, image.width - 0.5 - centre.x,
                                    image.height - 0.5 - centre.y});
    const double span = std::max(edgeFingers - 0.5, 1e-3) * finger;
    const double s = std::clamp((inside - 0.5 * finger) / span, 0.0, 1.0);
    return s * s * (3.0 - 2.0 * s);
}

namespace {

struct Candidate {
    std::size_t a = 0;
    std::size_t b = 0;
    double distance = 0.0;
    bool together = false;
};

std::size_t Root(std::vector<std::size_t>& parent, std::size_t i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

}  // namespace

std::vector<Cluster> JoinSightings(const std::vector<Sighting>& sightings, double joinDistance,
                                   const std::vector<long long>& previous) {
    const std::size_t n = sightings.size();
    std::vector<Candidate> candidates;
    for (std::size_t a = 0; a < n; ++a) {
        for (std::size_t b = a + 1; b < n; ++b) {
            if (sightings[a].camera == sightings[b].camera) {
                continue;  // one camera's contacts are different fingers
            }
            const bool together = previous[a] != 0 && previous[a] == previous[b];
            const double reach = (joinDistance > 0.0 ? joinDistance
                                                     : 0.75 * std::max(sightings[a].join, sightings[b].join)) *
                                 (together ? 2.0 : 1.0);
            const double d = cv::norm(sightings[a].at - sightings[b].at);
            if (d < reach) {
                candidates.push_back({a, b, d, together});
            }
        }
    }
    // Fingers joined before first, then the nearest.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& x, const Candidate& y) {
        return x.together != y.together ? x.together : x.distance < y.distance;
    });
    std::vector<std::size_t> parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    std::vector<std::vector<int>> camerasOf(n);
    for (std::size_t i = 0; i < n; ++i) {
        camerasOf[i] = {sightings[i].camera};
    }
    for (const Candidate& c : candidates) {
        const std::size_t ra = Root(parent, c.a);
        const std::size_t rb = Root(parent, c.b);
        if (ra == rb) {
            continue;
        }
        std::vector<int>& ca = camerasOf[ra];
        const std::vector<int>& cb = camerasOf[rb];
        const bool shared = std::any_of(cb.begin(), cb.end(), [&ca](int k) {
            return std::find(ca.begin(), ca.end(), k) != ca.end();
        });
        if (shared) {
            continue;  // that camera sees two fingers there
        }
        ca.insert(ca.end(), cb.begin(), cb.end());
        parent[rb] = ra;
    }
    std::vector<Cluster> clusters;
    std::vector<std::size_t> clusterOf(n, n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = Root(parent, i);
        if (clusterOf[r] == n) {
            clusterOf[r] = clusters.size();
            clusters.emplace_back();
        }
        clusters[clusterOf[r]].push_back(i);
    }
    return clusters;
}

}  // namespace quarvel::detail
