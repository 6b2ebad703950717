#include "touch/scene.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace quarvel::test {

TrackingScore Track(IrCamera& camera, const std::vector<ScriptedTouch>& script, int frames,
                    const TrackerOptions& options,
                    const std::function<void(int, const std::vector<Contact>&)>& observe) {
    TouchTracker tracker(camera.truth(), options);
    TrackingScore score;
    score.fingerIds.resize(script.size());
    score.fingerMissed.assign(script.size(), 0);
    std::map<std::size_t, long long> idOf;      // scripted finger -> the contact id on it
    std::map<long long, int> liftedAt;          // a contact id -> the frame its finger lifted
    std::set<long long> ids;
    long long highest = 0;
    double sum2 = 0.0;
    for (int f = 0; f < frames; ++f) {
        const int shown = camera.Shown(f);
        const std::vector<Contact>& all = tracker.Track(camera.Render(f, script)).contacts;
        if (observe) {
            observe(f, all);
        }
        std::vector<Contact> contacts;
        for (const Contact& c : all) {
            if (c.state != ContactState::Up) {
                contacts.push_back(c);
            }
            if (ids.insert(c.id).second) {
                score.idsRise = score.idsRise && c.id > highest;
                highest = std::max(highest, c.id);
            }
        }
        std::vector<bool> used(contacts.size(), false);
        for (std::size_t s = 0; s < script.size(); ++s) {
            if (!script[s].Down(shown)) {
                const auto known = idOf.find(s);
                if (known != idOf.end()) {
                    liftedAt[known->second] = f;
                    idOf.erase(known);
                }
                continue;
            }
            const cv::Point2d truth = script[s].at(shown);
            int best = -1;
            double bestDistance = 6.0;
            for (std::size_t i = 0; i < contacts.size(); ++i) {
                const double d = cv::norm(contacts[i].display() - truth);
                if (!used[i] && d < bestDistance) {
                    best = static_cast<int>(i);
                    bestDistance = d;
                }
            }
            if (best < 0) {
                if (shown > script[s].first) {
                    ++score.missed;
                    ++score.fingerMissed[s];
                }
                continue;
            }
            used[static_cast<std::size_t>(best)] = true;
            const long long id = contacts[static_cast<std::size_t>(best)].id;
            const auto known = idOf.find(s);
            if (known != idOf.end() && known->second != id) {
                ++score.swaps;
            }
            idOf[s] = id;
            score.fingerIds[s].insert(id);
            sum2 += bestDistance * bestDistance;
            score.max = std::max(score.max, bestDistance);
            ++score.paired;
        }
        int ghosts = 0;
        for (std::size_t i = 0; i < contacts.size(); ++i) {
            if (used[i]) {
                continue;
            }
            const auto lifted = liftedAt.find(contacts[i].id);
            if (lifted != liftedAt.end() && f - lifted->second < tracker.options().coastFrames) {
                ++score.lateLifts;
            } else {
                ++ghosts;
            }
        }
        score.ghosts += ghosts;
        if (ghosts > 0) {
            ++score.ghostFrames;
            score.firstGhost = score.firstGhost < 0 ? f : score.firstGhost;
            score.lastGhost = f;
        }
    }
    score.ids = static_cast<int>(ids.size());
    score.rms = score.paired > 0 ? std::sqrt(sum2 / score.paired) : 0.0;
    return score;
}

ScriptedTouch Drag(int start) {
    return {start, start + 59, [start](int f) {
                const double t = (f - start) / 59.0;
                return cv::Point2d(300 + 1300 * t, 300 + 500 * t);
            }};
}

ScriptedTouch Circle(int start) {
    return {start, start + 89, [start](int f) {
                const double a = 2.0 * M_PI * (f - start) / 90.0;
                return cv::Point2d(960 + 300 * std::cos(a), 540 + 300 * std::sin(a));
            }};
}

ScriptedTouch Hold(int start, int frames) {
    return {start, start + frames - 1, [](int) { return cv::Point2d(520.25, 810.5); }};
}

std::vector<ScriptedTouch> PassingSwipes(int start, double gap, bool meet) {
    // 75 display pixels a frame each: about 28 camera pixels on a 640-wide
    // camera.
    const auto swipe = [start](double from, double to, double y) {
        return ScriptedTouch{start, start + 19, [=](int f) {
                                 const double t = (f - start) / 19.0;
                                 return cv::Point2d(from + (to - from) * t, y);
                             }};
    };
    const double shift = meet ? 75.0 / 2 : 0.0;  // both at x 925 in their tenth frame
    return {swipe(250 - shift, 1675 - shift, 540.0 - gap / 2), swipe(1675 + shift, 250 + shift, 540.0 + gap / 2)};
}

}  // namespace quarvel::test
