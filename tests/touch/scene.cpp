#include "touch/scene.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>


namespace quarvel::test {

TrackingScore Track(IrCamera& camera, const std::vector<ScriptedTouch>& script, int frames,
                    const TrackerOptions& options) {
    TouchTracker tracker(camera.truth(), options);
    TrackingScore score;
    std::map<std::size_t, int> idOf;  // scripted finger -> the contact id on it
    std::set<int> ids;
    int highest = 0;
    double sum2 = 0.0;
    for (int f = 0; f < frames; ++f) {
        std::vector<Contact> contacts;
        for (const Contact& c : tracker.Track(camera.Render(f, script))) {
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
            if (!script[s].Down(f)) {
                idOf.erase(s);
                continue;
            }
            const cv::Point2d truth = script[s].at(f);
            int best = -1;
            double bestDistance = 6.0;
            for (std::size_t i = 0; i < contacts.size(); ++i) {
                const double d = cv::norm(contacts[i].display - truth);
                if (!used[i] && d < bestDistance) {
                    best = static_cast<int>(i);
                    bestDistance = d;
                }
            }
            if (best < 0) {
                score.missed += f > script[s].first ? 1 : 0;
                continue;
            }
            used[static_cast<std::size_t>(best)] = true;
            const int id = contacts[static_cast<std::size_t>(best)].id;
            const auto known = idOf.find(s);
            if (known != idOf.end() && known->second != id) {
                ++score.swaps;
            }
            idOf[s] = id;
            sum2 += bestDistance * bestDistance;
            score.max = std::max(score.max, bestDistance);
            ++score.paired;
        }
        score.ghosts += static_cast<int>(std::count(used.begin(), used.end(), false));
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

ScriptedTouch Hold(int start) {
    return {start, start + 59, [](int) { return cv::Point2d(520.25, 810.5); }};
}

std::vector<ScriptedTouch> PassingSwipes(int start) {
    // 75 display pixels a frame each: about 28 camera pixels on a 640-wide
    // camera, more than twice the gap between the tracks.
    const auto swipe = [start](double from, double to, double y) {
        return ScriptedTouch{start, start + 19, [=](int f) {
                                 const double t = (f - start) / 19.0;
                                 return cv::Point2d(from + (to - from) * t, y);
                             }};
    };
    return {swipe(250, 1675, 517.5), swipe(1675, 250, 562.5)};
}

}  // namespace quarvel::test
