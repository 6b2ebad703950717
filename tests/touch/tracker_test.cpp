// The tracker on the simulated infrared camera: scripted fingers over a
// surface with a gradient, a hot spot, drifting ambient light and noise.

#include <cstdio>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <quarvel/touch.h>

#include "touch/scene.h"

namespace {

using quarvel::Contact;
using quarvel::ContactState;
using quarvel::TouchTracker;
using quarvel::test::IrCamera;
using quarvel::test::IrOptions;
using quarvel::test::ScriptedTouch;

// Every scripted case on one timeline, after the background's 15 frames:
// a drag with a finger held beside it, a circle, two fast swipes passing
// on close tracks, and a contact that comes late, after a quarter of the
// ambient light's swing.
std::vector<ScriptedTouch> Gestures() {
    std::vector<ScriptedTouch> script{quarvel::test::Drag(20), quarvel::test::Hold(30),
                                      quarvel::test::Circle(100)};
    for (const ScriptedTouch& s : quarvel::test::PassingSwipes(200)) {
        script.push_back(s);
    }
    script.push_back({262, 300, [](int f) { return cv::Point2d(1500.0 + 2.0 * (f - 262), 260.0); }});
    return script;
}

TEST(TouchTracking, ScriptedGesturesAreTrackedToTheDisplayWithoutMissesGhostsOrSwaps) {
    struct Case {
        cv::Size camera;
        double target;
    };
    for (const Case& c : {Case{cv::Size(640, 480), 0.15}, Case{cv::Size(1280, 720), 0.08}}) {
        IrCamera camera(quarvel::test::TouchTruth(c.camera), IrOptions());
        const quarvel::test::TrackingScore s = quarvel::test::Track(camera, Gestures(), 310);
        std::printf("%dx%d camera, finger %.0f px: display rms %.4f px (max %.4f) over %d contact frames, "
                    "%d missed, %d ghosts, %d swaps, %d ids (target rms %.2f)\n",
                    c.camera.width, c.camera.height, camera.fingerDiameter(), s.rms, s.max, s.paired, s.missed,
                    s.ghosts, s.swaps, s.ids, c.target);
        EXPECT_LE(s.rms, c.target);
        EXPECT_EQ(s.missed, 0);
        EXPECT_EQ(s.ghosts, 0);
        EXPECT_EQ(s.swaps, 0);
        EXPECT_EQ(s.ids, 6);  // one per finger
        EXPECT_TRUE(s.idsRise);
        EXPECT_GE(s.paired, 60 + 60 + 90 + 2 * 20 + 39 - 6);  // every finger frame but the first
    }
}

TEST(TouchTracking, AHotSpotAndSlowAmbientChangeNeverBecomeTouches) {
    IrOptions options;
    options.ambientDrift = 30.0;  // a lamp swinging 60 grey levels over 600 frames
    options.ambientPeriod = 600.0;
    options.hotSpotLevel = 300.0;  // saturated
    options.noiseSigma = 3.0;
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), options);
    TouchTracker tracker(camera.truth());
    int contacts = 0;
    for (int f = 0; f < 600; ++f) {
        contacts += static_cast<int>(tracker.Track(camera.RenderAt(f, {})).size());
    }
    EXPECT_EQ(contacts, 0);
}

TEST(TouchTracker, ContactsGoDownOneFrameLateMoveAndLiftOnceWithIdsNeverReused) {
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), IrOptions());
    TouchTracker tracker(camera.truth());
    const cv::Point2d at(300.5, 200.25);
    const auto frame = [&](int f, std::vector<cv::Point2d> fingers) {
        return tracker.Track(camera.RenderAt(f, fingers));  // a copy
    };
    for (int f = 0; f < 15; ++f) {
        EXPECT_TRUE(tracker.learning());
        EXPECT_TRUE(frame(f, {}).empty());
    }
    EXPECT_FALSE(tracker.learning());
    EXPECT_TRUE(frame(15, {at}).empty());  // a speck for one frame: never a contact
    EXPECT_TRUE(frame(16, {}).empty());
    EXPECT_TRUE(frame(17, {at}).empty());  // seen once: not yet
    std::vector<Contact> c = frame(18, {at + cv::Point2d(1, 0)});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].id, 1);  // the speck took no id
    EXPECT_EQ(c[0].state, ContactState::Down);
    EXPECT_NEAR(c[0].camera.x, at.x + 1, 0.1);
    EXPECT_NEAR(c[0].camera.y, at.y, 0.1);
    EXPECT_GT(c[0].area, 20.0);
    EXPECT_NEAR(cv::norm(c[0].display - camera.truth().CorrectPointSubpixel(c[0].camera)), 0.0, 1e-9);
    c = frame(19, {at + cv::Point2d(2, 0)});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].state, ContactState::Move);
    const cv::Point2d last = c[0].camera;
    c = frame(20, {});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].state, ContactState::Up);
    EXPECT_EQ(c[0].id, 1);
    EXPECT_EQ(c[0].camera, last);  // at its last position
    EXPECT_TRUE(frame(21, {}).empty());  // reported once
    frame(22, {at});
    c = frame(23, {at});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].id, 2);  // the same place, a new touch, a new id

    quarvel::TrackerOptions atOnce;
    atOnce.confirmNextFrame = false;
    TouchTracker eager(camera.truth(), atOnce);
    for (int f = 0; f < 15; ++f) {
        eager.Track(camera.RenderAt(f, {}));
    }
    c = eager.Track(camera.RenderAt(15, {at}));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].state, ContactState::Down);
}

TEST(TouchTracker, ColourFramesTrackAsGreyAndOtherFramesLiftEveryContact) {
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), IrOptions());
    TouchTracker grey(camera.truth());
    TouchTracker colour(camera.truth());
    const std::vector<cv::Point2d> fingers{{100.25, 100.5}, {400.75, 300.0}};
    std::vector<Contact> a, b;
    for (int f = 0; f < 20; ++f) {
        const cv::Mat frame = camera.RenderAt(f, f < 15 ? std::vector<cv::Point2d>{} : fingers);
        cv::Mat bgr;
        cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
        a = grey.Track(frame);
        b = colour.Track(bgr);
    }
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].camera, b[i].camera);
        EXPECT_EQ(a[i].id, b[i].id);
    }

    EXPECT_TRUE(grey.frameStatus().ok);

    // A frame the tracker cannot read: every contact lifts, nothing breaks,
    // and it says why it refused the frame.
    const std::vector<Contact> lifted = grey.Track(cv::Mat(480, 640, CV_16UC1, cv::Scalar(9000)));
    ASSERT_EQ(lifted.size(), 2u);
    EXPECT_EQ(lifted[0].state, ContactState::Up);
    EXPECT_FALSE(grey.frameStatus().ok);
    EXPECT_EQ(grey.frameStatus().reason, "the frame is not an 8-bit grey, BGR or BGRA image");
    EXPECT_TRUE(grey.Track(cv::Mat()).empty());
    EXPECT_EQ(grey.frameStatus().reason, "the frame is empty");
    grey.Track(cv::Mat(480, 640, CV_8UC1, cv::Scalar(40)));
    EXPECT_TRUE(grey.frameStatus().ok);
    EXPECT_TRUE(grey.frameStatus().reason.empty());

    // Another camera size: the contacts lift and the background is learned
    // again for it.
    colour.Track(camera.RenderAt(20, fingers));
    const std::vector<Contact> resized = colour.Track(cv::Mat(240, 320, CV_8UC1, cv::Scalar(40)));
    ASSERT_EQ(resized.size(), 2u);
    EXPECT_EQ(resized[1].state, ContactState::Up);
    EXPECT_TRUE(colour.learning());
    EXPECT_EQ(colour.frames(), 22);
}

TEST(TouchTracker, ManyBlobsAtOnceEachKeepTheirOwnId) {
    // Eighty fingers (a crowd, or a wet surface): past the optimal pairing's
    // size, every one still keeps its id as all of them move.
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), IrOptions());
    TouchTracker tracker(camera.truth());
    const auto crowd = [](double shift) {
        std::vector<cv::Point2d> fingers;
        for (int i = 0; i < 80; ++i) {
            fingers.emplace_back(60.0 + 50.0 * (i % 10) + shift, 60.0 + 45.0 * (i / 10) + 0.5 * shift);
        }
        return fingers;
    };
    for (int f = 0; f < 15; ++f) {
        tracker.Track(camera.RenderAt(f, {}));
    }
    tracker.Track(camera.RenderAt(15, crowd(0)));
    std::vector<Contact> before = tracker.Track(camera.RenderAt(16, crowd(4)));
    ASSERT_EQ(before.size(), 80u);
    for (int f = 17; f < 22; ++f) {
        const std::vector<Contact> after = tracker.Track(camera.RenderAt(f, crowd(4.0 * (f - 15))));
        ASSERT_EQ(after.size(), 80u);
        for (std::size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(after[i].id, before[i].id);
            EXPECT_EQ(after[i].state, ContactState::Move);
            EXPECT_NEAR(after[i].camera.x - before[i].camera.x, 4.0, 0.2);
        }
        before = after;
    }
}

}  // namespace
