// Fingers together: two fingertips side by side as every scroll and pinch
// starts, three in a row, and a finger dragging where a lamp has just come
// on. Fingertips are Gaussians (sigma 3.2 px on a 640-wide camera, 7.5 px
// across at half height; in proportion on others) over the simulated
// camera's noisy gradient, scripted and judged in camera pixels.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <quarvel/touch.h>

#include "support/ir_camera.h"

namespace {

using quarvel::Contact;
using quarvel::ContactState;
using quarvel::test::IrCamera;
using quarvel::test::IrOptions;
using quarvel::test::IrScene;

// A fingertip down from `first` to `last` (both included) at camera
// position at(frame).
struct Tip {
    int first;
    int last;
    std::function<cv::Point2d(int)> at;
};

struct GestureScore {
    int judged = 0;      // frames judged: every finger past its first frame
    int wrongCount = 0;  // judged frames whose seen contacts are not one per finger
    int missed = 0;      // finger frames with no seen contact on the finger
    int ghosts = 0;      // seen contacts on no finger (a lift within the coast frames aside)
    double rms = 0.0;    // camera pixels, over the contacts paired with their fingers
    double max = 0.0;
    std::vector<std::set<long long>> ids;  // per finger
};

constexpr double kPairing = 3.0;  // camera pixels a contact may lie from its finger

// The tracker on the camera for `frames` frames; from each finger's second
// frame on, its contact must be there (down or moving, not coasting).
GestureScore Play(cv::Size size, const std::vector<Tip>& tips, int frames, const IrScene& scene = IrScene()) {
    IrOptions options;
    options.fingerSigma = 3.2 * size.width / 640.0;
    IrCamera camera(quarvel::test::TouchTruth(size), options, scene);
    quarvel::TouchTracker tracker(camera.truth());
    GestureScore score;
    score.ids.resize(tips.size());
    double sum2 = 0.0;
    int paired = 0;
    for (int f = 0; f < frames; ++f) {
        std::vector<cv::Point2d> shown;
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < tips.size(); ++i) {
            if (f >= tips[i].first && f <= tips[i].last) {
                shown.push_back(tips[i].at(f));
                which.push_back(i);
            }
        }
        const quarvel::TouchFrame& touches = tracker.Track(camera.RenderAt(f, shown));
        std::vector<Contact> seen;
        for (const Contact& c : touches) {
            if (c.state == ContactState::Down || c.state == ContactState::Move) {
                seen.push_back(c);
            }
        }
        std::vector<bool> used(seen.size(), false);
        int judgedFingers = 0;
        bool judging = false;
        for (std::size_t k = 0; k < shown.size(); ++k) {
            const Tip& tip = tips[which[k]];
            if (f == tip.first) {
                continue;  // a finger is reported from its second frame on
            }
            judging = true;
            ++judgedFingers;
            int best = -1;
            for (std::size_t j = 0; j < seen.size(); ++j) {
                const double d = cv::norm(seen[j].camera() - shown[k]);
                if (!used[j] && d <= kPairing && (best < 0 || d < cv::norm(seen[static_cast<std::size_t>(best)].camera() - shown[k]))) {
                    best = static_cast<int>(j);
                }
            }
            if (best < 0) {
                ++score.missed;
                continue;
            }
            used[static_cast<std::size_t>(best)] = true;
            const double d = cv::norm(seen[static_cast<std::size_t>(best)].camera() - shown[k]);
            sum2 += d * d;
            ++paired;
            score.max = std::max(score.max, d);
            score.ids[which[k]].insert(seen[static_cast<std::size_t>(best)].id);
        }
        for (std::size_t j = 0; j < seen.size(); ++j) {
            // A contact beside a finger in its first frame is that finger,
            // early; anything else on no finger is a ghost.
            bool onFinger = used[j];
            for (std::size_t k = 0; k < shown.size() && !onFinger; ++k) {
                onFinger = cv::norm(seen[j].camera() - shown[k]) <= kPairing;
            }
            score.ghosts += onFinger ? 0 : 1;
        }
        if (judging) {
            ++score.judged;
            score.wrongCount += static_cast<int>(seen.size()) != judgedFingers ? 1 : 0;
        }
    }
    score.rms = paired > 0 ? std::sqrt(sum2 / paired) : 0.0;
    return score;
}

// Fingertips side by side along x, `gap(frame)` apart, centred on
// centre(frame).
std::vector<Tip> Row(int count, int first, int last, std::function<double(int)> gap,
                     std::function<cv::Point2d(int)> centre) {
    std::vector<Tip> tips;
    for (int i = 0; i < count; ++i) {
        const double offset = i - (count - 1) / 2.0;
        tips.push_back({first, last, [=](int f) { return centre(f) + cv::Point2d(offset * gap(f), 0.0); }});
    }
    return tips;
}

struct Gesture {
    const char* id;    // in the test's name
    const char* name;  // in the report
    cv::Size camera;
    std::function<std::vector<Tip>(double scale)> tips;  // scale: the camera's width over 640
};

// Two seconds at 30 frames a second from frame 20 (the background is
// learned by then).
constexpr int kFirst = 20;
constexpr int kLast = 80;

std::function<cv::Point2d(int)> Scrolling(double scale) {
    return [scale](int f) { return cv::Point2d(300.3 * scale, (150.7 + 2.5 * (f - kFirst)) * scale); };
}

std::function<double(int)> Apart(double pixels) {
    return [pixels](int) { return pixels; };
}

// From `from` to `to` camera pixels apart over the gesture (640-wide units).
std::function<double(int)> Pinch(double from, double to, double scale) {
    return [=](int f) { return scale * (from + (to - from) * std::min(1.0, (f - kFirst) / 45.0)); };
}

std::function<cv::Point2d(int)> Still(double scale) {
    return [scale](int) { return cv::Point2d(320.4 * scale, 240.6 * scale); };
}

const Gesture kGestures[] = {
    {"Land10Scroll", "two fingers land 10 px apart and scroll together", {640, 480},
     [](double s) { return Row(2, kFirst, kLast, Apart(10.0 * s), Scrolling(s)); }},
    {"Land12Scroll", "two fingers land 12 px apart and scroll together", {640, 480},
     [](double s) { return Row(2, kFirst, kLast, Apart(12.0 * s), Scrolling(s)); }},
    {"Land14Scroll", "two fingers land 14 px apart and scroll together", {640, 480},
     [](double s) { return Row(2, kFirst, kLast, Apart(14.0 * s), Scrolling(s)); }},
    {"Land22ScrollHd", "two fingers land 22 px apart and scroll together", {1280, 720},
     [](double s) { return Row(2, kFirst, kLast, Apart(11.0 * s), Scrolling(s)); }},
    {"PinchOut", "pinch out from 11 px to 80 px", {640, 480},
     [](double s) { return Row(2, kFirst, kLast, Pinch(11.0, 80.0, s), Still(s)); }},
    {"PinchIn", "pinch in from 80 px to 11 px", {640, 480},
     [](double s) { return Row(2, kFirst, kLast, Pinch(80.0, 11.0, s), Still(s)); }},
    {"ThreeInARow", "three fingers in a row 12 px apart, moving together", {640, 480},
     [](double s) { return Row(3, kFirst, kLast, Apart(12.0 * s), Scrolling(s)); }},
    {"PinchOutHd", "pinch out from 22 px to 160 px", {1280, 720},
     [](double s) { return Row(2, kFirst, kLast, Pinch(11.0, 80.0, s), Still(s)); }},
    {"PinchInHd", "pinch in from 160 px to 22 px", {1280, 720},
     [](double s) { return Row(2, kFirst, kLast, Pinch(80.0, 11.0, s), Still(s)); }},
    {"ThreeInARowHd", "three fingers in a row 24 px apart, moving together", {1280, 720},
     [](double s) { return Row(3, kFirst, kLast, Apart(12.0 * s), Scrolling(s)); }},
};

void PrintTo(const Gesture& g, std::ostream* out) { *out << g.name; }

class Gestures : public ::testing::TestWithParam<Gesture> {};

// Two contacts (three) from the second frame of the touch, each on its
// fingertip as accurately as a lone finger, one id per finger.
TEST_P(Gestures, OneContactPerFingertipFromTheFirstFrame) {
    const Gesture& g = GetParam();
    const std::vector<Tip> tips = g.tips(g.camera.width / 640.0);
    const GestureScore s = Play(g.camera, tips, kLast + 5);
    std::printf("%-55s %4dx%-4d wrong count in %2d of %2d frames, missed %2d, ghosts %d, rms %.3f px (max %.3f)\n",
                g.name, g.camera.width, g.camera.height, s.wrongCount, s.judged, s.missed, s.ghosts, s.rms, s.max);
    EXPECT_EQ(s.wrongCount, 0);
    EXPECT_EQ(s.missed, 0);
    EXPECT_EQ(s.ghosts, 0);
    EXPECT_LE(s.rms, 0.15);
    EXPECT_LE(s.max, 0.6);
    for (std::size_t i = 0; i < s.ids.size(); ++i) {
        EXPECT_EQ(s.ids[i].size(), 1u) << "finger " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(SideBySide, Gestures, ::testing::ValuesIn(kGestures),
                         [](const ::testing::TestParamInfo<Gesture>& info) { return std::string(info.param.id); });

// A lamp comes on over a quarter of the view (40 grey levels, soft-edged);
// a moment later a finger lands in its light and drags across it, and
// another drags in from outside. Both are seen at once, and the lamp is
// never a contact.
TEST(Gestures, AFingerWhereALampJustCameOnIsSeenAtOnce) {
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720)}) {
        const double s = size.width / 640.0;
        IrScene scene;
        scene.lamps.push_back({40, cv::Rect2d(200 * s, 120 * s, 320 * s, 240 * s), 40.0});
        const Tip landing{48, 110, [s](int f) { return cv::Point2d((260.3 + 3.0 * (f - 48)) * s, 200.4 * s); }};
        const Tip entering{kFirst, 110, [s](int f) { return cv::Point2d((100.3 + 4.0 * (f - kFirst)) * s, 300.6 * s); }};
        const GestureScore score = Play(size, {landing, entering}, 120, scene);
        std::printf("finger where a lamp came on, %dx%d: missed %d frames, ghosts %d, rms %.3f px\n", size.width,
                    size.height, score.missed, score.ghosts, score.rms);
        EXPECT_LE(score.missed, 5) << size;
        EXPECT_EQ(score.ghosts, 0) << size;
        EXPECT_EQ(score.ids[0].size(), 1u) << size;
        EXPECT_EQ(score.ids[1].size(), 1u) << size;
    }
}

}  // namespace
