#include "touch/scene.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace quarvel::test {

Judge::Judge(const std::vector<ScriptedTouch>& script, int coastFrames) : script_(script), coastFrames_(coastFrames) {
    score_.fingerIds.resize(script.size());
    score_.fingerMissed.assign(script.size(), 0);
}

void Judge::Frame(int f, int shown, const std::vector<Contact>& all) {
    std::vector<Contact> contacts;
    for (const Contact& c : all) {
        if (c.state != ContactState::Up) {
            contacts.push_back(c);
        }
        if (ids_.insert(c.id).second) {
            score_.idsRise = score_.idsRise && c.id > highest_;
            highest_ = std::max(highest_, c.id);
        }
    }
    std::vector<bool> used(contacts.size(), false);
    for (std::size_t s = 0; s < script_.size(); ++s) {
        if (!script_[s].Down(shown)) {
            const auto known = idOf_.find(s);
            if (known != idOf_.end()) {
                liftedAt_[known->second] = f;
                idOf_.erase(known);
            }
            errorOf_.erase(s);
            continue;
        }
        const cv::Point2d truth = script_[s].at(shown);
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
            if (shown > script_[s].first) {
                ++score_.missed;
                ++score_.fingerMissed[s];
            }
            errorOf_.erase(s);
            continue;
        }
        used[static_cast<std::size_t>(best)] = true;
        const Contact& on = contacts[static_cast<std::size_t>(best)];
        const auto known = idOf_.find(s);
        if (known != idOf_.end() && known->second != on.id) {
            ++score_.swaps;
        }
        idOf_[s] = on.id;
        score_.fingerIds[s].insert(on.id);
        const cv::Point2d error = on.display() - truth;
        const auto before = errorOf_.find(s);
        if (before != errorOf_.end()) {
            if (cv::norm(error - before->second) > largestStep_) {
                largestStep_ = cv::norm(error - before->second);
                largestStepFrame_ = f;
            }
        }
        errorOf_[s] = error;
        sum2_ += bestDistance * bestDistance;
        score_.max = std::max(score_.max, bestDistance);
        ++score_.paired;
    }
    int ghosts = 0;
    for (std::size_t i = 0; i < contacts.size(); ++i) {
        if (used[i]) {
            continue;
        }
        const auto lifted = liftedAt_.find(contacts[i].id);
        if (lifted != liftedAt_.end() && f - lifted->second < coastFrames_) {
            ++score_.lateLifts;
        } else {
            ++ghosts;
            for (std::size_t s = 0; s < script_.size(); ++s) {
                if (script_[s].Down(shown) && cv::norm(contacts[i].display() - script_[s].at(shown)) < 40.0) {
                    ++score_.duplicates;
                    break;
                }
            }
        }
    }
    score_.ghosts += ghosts;
    if (ghosts > 0) {
        ++score_.ghostFrames;
        score_.firstGhost = score_.firstGhost < 0 ? f : score_.firstGhost;
        score_.lastGhost = f;
    }
}

const TrackingScore& Judge::score() {
    score_.ids = static_cast<int>(ids_.size());
    score_.rms = score_.paired > 0 ? std::sqrt(sum2_ / score_.paired) : 0.0;
    return score_;
}

TrackingScore Track(IrCamera& camera, const std::vector<ScriptedTouch>& script, int frames,
                    const TrackerOptions& options,
                    const std::function<void(int, const std::vector<Contact>&)>& observe) {
    TouchTracker tracker(camera.truth(), options);
    Judge judge(script, options.coastFrames);
    for (int f = 0; f < frames; ++f) {
        const std::vector<Contact>& all = tracker.Track(camera.Render(f, script)).contacts;
        if (observe) {
            observe(f, all);
        }
        judge.Frame(f, camera.Shown(f), all);
    }
    return judge.score();
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
