// Walls of several simulated cameras fused into one surface, judged
// against where the fingers truly are; and the fusion's own rules on
// contacts handed in directly.

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <algorithm>
#include <map>

#include <quarvel/fusion.h>
#include <quarvel/touch.h>

#include "support/wall_rig.h"
#include "touch/scene.h"

namespace {

using quarvel::Contact;
using quarvel::ContactState;
using quarvel::TouchFrame;
using quarvel::TouchFusion;
using quarvel::test::Judge;
using quarvel::test::ScriptedTouch;
using quarvel::test::TrackingScore;
using quarvel::test::WallLayout;
using quarvel::test::WallRig;

ScriptedTouch Line(int first, int last, cv::Point2d from, cv::Point2d to) {
    return {first, last, [=](int f) { return from + (to - from) * ((f - first) / double(last - first)); }};
}

// What an installation meets on a wall: drags across every seam, a finger
// resting in an overlap, a circle over the middle, a pair side by side in
// an overlap, a tap on a seam, a finger at the outer edge one camera sees.
std::vector<ScriptedTouch> WallScript() {
    return {
        Line(30, 149, {150, 420}, {1770, 470}),     // across the vertical seams
        Line(40, 159, {700, 120}, {760, 960}),      // down across the horizontal seam
        Line(60, 200, {960, 620}, {960, 620}),      // resting in the middle overlap
        {90, 239, [](int f) {
             const double a = 2.0 * M_PI * (f - 90) / 150.0;
             return cv::Point2d(960 + 330 * std::cos(a), 540 + 330 * std::sin(a));
         }},
        Line(170, 260, {930, 300}, {990, 820}),     // a pair side by side through the overlap
        Line(170, 260, {958, 300}, {1018, 820}),
        Line(210, 215, {1060, 150}, {1060, 150}),   // a tap on the seam
        Line(30, 260, {40, 900}, {40, 200}),        // the outer edge
    };
}

struct WallScore {
    TrackingScore fused;
    double step = 0.0;      // the largest change of a finger's error from one frame to the next
    int stepFrame = -1;
    double seamStep = 0.0;  // the same where a camera began or stopped seeing the finger
    int seams = 0;          // such crossings
    int unionDuplicates = 0;  // the cameras' contacts side by side, unfused
};

// Where the cameras that see each finger change, how far its fused
// contact's error moves.
class SeamWatch {
public:
    void Frame(int f, const std::vector<ScriptedTouch>& script, const std::vector<std::vector<Contact>>& cameras,
               const std::vector<Contact>& fused) {
        for (std::size_t s = 0; s < script.size(); ++s) {
            if (!script[s].Down(f)) {
                last_.erase(s);
                continue;
            }
            const cv::Point2d truth = script[s].at(f);
            std::vector<bool> seenBy;
            for (const auto& contacts : cameras) {
                seenBy.push_back(std::any_of(contacts.begin(), contacts.end(), [&](const Contact& c) {
                    return c.state != ContactState::Up && cv::norm(c.display() - truth) < 6.0;
                }));
            }
            const auto on = std::find_if(fused.begin(), fused.end(), [&](const Contact& c) {
                return c.state != ContactState::Up && cv::norm(c.display() - truth) < 6.0;
            });
            if (on == fused.end()) {
                last_.erase(s);
                continue;
            }
            const cv::Point2d error = on->display() - truth;
            const auto before = last_.find(s);
            if (before != last_.end() && before->second.first != seenBy) {
                largest_ = std::max(largest_, cv::norm(error - before->second.second));
                ++crossings_;
            }
            last_[s] = {seenBy, error};
        }
    }
    double largest() const { return largest_; }
    int crossings() const { return crossings_; }

private:
    std::map<std::size_t, std::pair<std::vector<bool>, cv::Point2d>> last_;
    double largest_ = 0.0;
    int crossings_ = 0;
};

// Every camera's frames through its own tracker; the fusion at each frame
// (or at each half frame, cameras out of step by half a frame).
WallScore RunWall(WallRig& rig, const std::vector<ScriptedTouch>& script, int frames, bool outOfStep) {
    TouchFusion fusion;
    std::vector<quarvel::TouchTracker> trackers;
    for (int k = 0; k < rig.cameras(); ++k) {
        trackers.emplace_back(rig.calibration(k));
        fusion.AddCamera("camera " + std::to_string(k), rig.calibration(k));
    }
    const int ticks = outOfStep ? 2 : 1;  // ticks a frame
    Judge judge(script, 2 * ticks);
    Judge unfused(script, 2 * ticks);
    SeamWatch seams;
    std::vector<std::vector<Contact>> latest(static_cast<std::size_t>(rig.cameras()));
    for (int tick = 0; tick < frames * ticks; ++tick) {
        const double t = tick / (30.0 * ticks);
        for (int k = 0; k < rig.cameras(); ++k) {
            if (outOfStep && (tick + k) % 2 != 0) {
                continue;  // odd cameras take their frames half a frame after the even ones
            }
            std::vector<cv::Point2d> down;
            for (const ScriptedTouch& s : script) {
                if (s.Down(tick / ticks)) {
                    down.push_back(s.at(tick / ticks) + (s.at(tick / ticks + 1) - s.at(tick / ticks)) *
                                                            ((tick % ticks) / double(ticks)));
                }
            }
            const TouchFrame& seen = trackers[static_cast<std::size_t>(k)].Track(rig.Render(k, tick / ticks, down), t);
            fusion.Push(k, seen);
            latest[static_cast<std::size_t>(k)] = seen.contacts;
        }
        if (tick % ticks != 0) {
            continue;  // judged where the script has a frame
        }
        const TouchFrame& fused = fusion.Fuse(t);
        judge.Frame(tick / ticks, tick / ticks, fused.contacts);
        seams.Frame(tick / ticks, script, latest, fused.contacts);
        std::vector<Contact> all;
        for (const auto& contacts : latest) {
            all.insert(all.end(), contacts.begin(), contacts.end());
        }
        unfused.Frame(tick / ticks, tick / ticks, all);
    }
    return {judge.score(), judge.largestStep(), judge.largestStepFrame(), seams.largest(), seams.crossings(),
            unfused.score().duplicates};
}

WallLayout Layout(int columns, int rows, cv::Size camera, bool upright = false) {
    WallLayout layout;
    layout.columns = columns;
    layout.rows = rows;
    layout.camera = camera;
    layout.upright = upright;
    return layout;
}

TEST(FusedWall, OneContactPerFingerAcrossTheSeams) {
    // Out of step, a finger that lands moving (the circle) is first
    // reported where its one camera saw it, half a frame (7 display px)
    // before: one frame judged late, its contact counted off the finger.
    struct Case {
        const char* name;
        WallLayout layout;
        bool outOfStep;
        double rms;
        int lateLandings;
    } cases[] = {
        {"2 x 1 of 640 x 480", Layout(2, 1, {640, 480}), false, 0.15, 0},
        {"2 x 2 of 640 x 480", Layout(2, 2, {640, 480}), false, 0.15, 0},
        {"3 x 1 of 1280 x 720 upright", Layout(3, 1, {1280, 720}, true), false, 0.10, 0},
        {"2 x 1 of 640 x 480, half a frame out of step", Layout(2, 1, {640, 480}), true, 0.15, 1},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        WallRig rig(c.layout);
        const WallScore s = RunWall(rig, WallScript(), 280, c.outOfStep);
        EXPECT_LE(s.fused.duplicates, c.lateLandings);
        EXPECT_LE(s.fused.ghostFrames, c.lateLandings) << "first at " << s.fused.firstGhost << ", last at "
                                                      << s.fused.lastGhost;
        EXPECT_EQ(s.fused.swaps, 0);
        EXPECT_LE(s.fused.missed, 2);
        EXPECT_GE(s.seams, 6);
        EXPECT_LE(s.seamStep, 0.5);
        EXPECT_LE(s.step, 1.0) << "at frame " << s.stepFrame;
        EXPECT_LE(s.fused.rms, c.rms);
        EXPECT_LE(s.fused.max, 1.0);
        EXPECT_EQ(s.fused.ids, static_cast<int>(WallScript().size()));
        // The same cameras side by side, unfused: fingers in the overlaps twice.
        EXPECT_GT(s.unionDuplicates, 100);
        std::printf("%s: rms %.3f max %.3f, seam step %.3f over %d crossings, largest step %.3f, missed %d, ids %d "
                    "(unfused: %d duplicates)\n", c.name, s.fused.rms, s.fused.max, s.seamStep, s.seams, s.step,
                    s.fused.missed, s.fused.ids, s.unionDuplicates);
    }
}

}  // namespace

namespace {

// Contacts handed in directly, as two cameras of a wall would: the left
// camera's 640 x 480 image shows display x 0..1280 at twice its pixels,
// the right one's x 1000..2280; the fusion takes the display positions as
// they come and the camera positions for how fully each blob is seen.
struct TwoCameras {
    TouchFusion fusion;

    static quarvel::Model Camera() {
        quarvel::CalibrationParams p;
        p.imageWidth = 640;
        p.imageHeight = 480;
        return quarvel::Model(p, cv::Size(1280, 960));
    }
    TwoCameras() {
        fusion.AddCamera("left", Camera());
        fusion.AddCamera("right", Camera());
    }
    // A frame of camera `k` at `t` with contacts (id, display x, y); their
    // camera positions follow from the shift.
    bool Push(int k, double t, std::vector<std::tuple<long long, double, double>> contacts,
              ContactState state = ContactState::Move) {
        TouchFrame frame;
        frame.t = t;
        for (const auto& [id, x, y] : contacts) {
            Contact c;
            c.id = id;
            c.x = x;
            c.y = y;
            c.cx = (x - (k == 0 ? 0 : 1000)) / 2.0 - 0.5;
            c.cy = y / 2.0 - 0.5;
            c.state = state;
            frame.contacts.push_back(c);
        }
        return fusion.Push(k, frame);
    }
};

std::map<long long, Contact> Down(const TouchFrame& frame) {
    std::map<long long, Contact> out;
    for (const Contact& c : frame) {
        if (c.down()) {
            out[c.id] = c;
        }
    }
    return out;
}

TEST(TouchFusion, FingersOfOneCameraStayApartAndAGoneCameraLosesOnlyWhatItAloneSaw) {
    TwoCameras wall;
    // Two fingers 12 px apart in the overlap (x 1000..1280), both cameras
    // see both; a third only the left camera sees.
    for (int f = 0; f < 3; ++f) {
        const double t = f / 30.0;
        ASSERT_TRUE(wall.Push(0, t, {{1, 1100, 400}, {2, 1112, 400}, {3, 300, 300}}));
        ASSERT_TRUE(wall.Push(1, t, {{7, 1100.1, 400}, {8, 1112.1, 400}}));
        const auto down = Down(wall.fusion.Fuse(t));
        ASSERT_EQ(down.size(), 3u) << "frame " << f;
        EXPECT_NEAR(down.begin()->second.x, 1100.05, 1e-9);  // equal weights: the mean
    }
    const std::map<long long, Contact> before = Down(wall.fusion.Fuse(2 / 30.0));
    // The left camera falls silent; the right one goes on.
    std::map<long long, Contact> after;
    double lifted = -1.0;
    for (int f = 3; f < 60; ++f) {
        const double t = f / 30.0;
        ASSERT_TRUE(wall.Push(1, t, {{7, 1100.1, 400}, {8, 1112.1, 400}}));
        const TouchFrame& out = wall.fusion.Fuse(t);
        for (const Contact& c : out) {
            if (c.state == ContactState::Up && c.x < 500 && lifted < 0) {
                lifted = t - 2 / 30.0;
            }
        }
        after = Down(out);
    }
    EXPECT_GT(lifted, 0.0);
    EXPECT_LE(lifted, wall.fusion.options().silentSeconds + 1 / 30.0);
    ASSERT_EQ(after.size(), 2u);
    for (const auto& [id, c] : after) {
        ASSERT_EQ(before.count(id), 1u) << "the fingers the right camera sees keep their ids";
        EXPECT_NEAR(c.x, before.at(id).x, 0.1);
    }
    // The left camera comes back, started over (new ids): taken in again,
    // joined to what the right one sees, no new contact.
    wall.fusion.Restart(0);
    ASSERT_TRUE(wall.Push(0, 2.0, {{1, 1100, 400}, {2, 1112, 400}}, ContactState::Down));
    ASSERT_TRUE(wall.Push(1, 2.0, {{7, 1100.1, 400}, {8, 1112.1, 400}}));
    EXPECT_EQ(Down(wall.fusion.Fuse(2.0)).size(), 2u);
    for (const Contact& c : wall.fusion.LiftAll()) {
        EXPECT_EQ(c.state, ContactState::Up);
    }
    EXPECT_TRUE(Down(wall.fusion.Fuse(2.1)).empty());
    // What is not a frame of a camera is refused.
    EXPECT_FALSE(wall.Push(2, 2.2, {}));
    EXPECT_FALSE(wall.Push(0, std::nan(""), {}));
}

TEST(TouchFusion, ABlobCutByItsImageEdgeCountsForLittle) {
    TwoCameras wall;
    // The left camera's image ends at display x 1280 (camera x 639.5): a
    // blob 2 px inside is cut, its centre pulled 3 px inwards.
    ASSERT_TRUE(wall.Push(0, 0.0, {{1, 1273, 400}}));
    ASSERT_TRUE(wall.Push(1, 0.0, {{1, 1276, 400}}));
    const auto down = Down(wall.fusion.Fuse(0.0));
    ASSERT_EQ(down.size(), 1u);
    EXPECT_NEAR(down.begin()->second.x, 1276.0, 0.01);
}

}  // namespace
