// The tracker on the simulated infrared camera: scripted fingers over a
// surface with a gradient, a hot spot, drifting ambient light and noise.

#include <unistd.h>

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
                    "%d missed, %d ghosts, %d swaps, %d ids, %d late lift frames (target rms %.2f)\n",
                    c.camera.width, c.camera.height, camera.fingerDiameter(), s.rms, s.max, s.paired, s.missed,
                    s.ghosts, s.swaps, s.ids, s.lateLifts, c.target);
        EXPECT_LE(s.rms, c.target);
        EXPECT_EQ(s.missed, 0);
        EXPECT_EQ(s.ghosts, 0);
        EXPECT_LE(s.lateLifts, 6 * 2);  // each lift reported after the two frames a contact may go unseen
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

TEST(TouchTracker, ContactsGoDownOneFrameLateMoveCoastAndLiftOnceWithIdsNeverReused) {
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), IrOptions());
    TouchTracker tracker(camera.truth());
    const cv::Point2d at(300.5, 200.25);
    const auto frame = [&](int f, std::vector<cv::Point2d> fingers) {
        return tracker.Track(camera.RenderAt(f, fingers)).contacts;  // a copy
    };
    for (int f = 0; f < 15; ++f) {
        EXPECT_TRUE(tracker.learning());
        EXPECT_TRUE(frame(f, {}).empty());
    }
    EXPECT_FALSE(tracker.learning());
    const quarvel::BackgroundStatus learned = tracker.background();
    EXPECT_NEAR(learned.noise, 2.0, 0.3);  // the rig's sensor noise
    EXPECT_EQ(learned.threshold, std::max(12.0, 7.0 * learned.noise));
    EXPECT_TRUE(frame(15, {at}).empty());  // a speck for one frame: never a contact
    EXPECT_TRUE(frame(16, {}).empty());
    EXPECT_TRUE(frame(17, {at}).empty());  // seen once: not yet
    std::vector<Contact> c = frame(18, {at + cv::Point2d(1, 0)});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].id, 1);  // the speck took no id
    EXPECT_EQ(c[0].state, ContactState::Down);
    EXPECT_NEAR(c[0].camera().x, at.x + 1, 0.1);
    EXPECT_NEAR(c[0].camera().y, at.y, 0.1);
    EXPECT_GT(c[0].area, 20.0);
    EXPECT_NEAR(cv::norm(c[0].display() - camera.truth().CorrectPointSubpixel(c[0].camera())), 0.0, 1e-9);
    c = frame(19, {at + cv::Point2d(2, 0)});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].state, ContactState::Move);
    const cv::Point2d last = c[0].camera();
    // Unseen: it coasts along its motion for two frames, then lifts where
    // it was last seen, once.
    for (int f = 20; f < 22; ++f) {
        c = frame(f, {});
        ASSERT_EQ(c.size(), 1u);
        EXPECT_EQ(c[0].state, ContactState::Coasting);
        EXPECT_NEAR(c[0].camera().x, last.x + (f - 19), 0.2);
    }
    c = frame(22, {});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].state, ContactState::Up);
    EXPECT_EQ(c[0].id, 1);
    EXPECT_EQ(c[0].camera(), last);
    EXPECT_TRUE(frame(23, {}).empty());  // reported once
    frame(24, {at});
    c = frame(25, {at});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].id, 2);  // the same place, a new touch, a new id

    // The host stops: every contact lifts at once, and one still there
    // comes back under a new id.
    const std::vector<Contact> ups = tracker.LiftAll().contacts;
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(ups[0].state, ContactState::Up);
    EXPECT_EQ(ups[0].id, 2);
    frame(26, {at});
    c = frame(27, {at});
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].id, 3);

    quarvel::TrackerOptions atOnce;
    atOnce.confirmNextFrame = false;
    TouchTracker eager(camera.truth(), atOnce);
    for (int f = 0; f < 15; ++f) {
        eager.Track(camera.RenderAt(f, {}));
    }
    c = eager.Track(camera.RenderAt(15, {at})).contacts;
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].state, ContactState::Down);
}

TEST(TouchTracker, ColourFramesTrackAsGreyAndFramesItCannotReadAreLostFrames) {
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), IrOptions());
    TouchTracker grey(camera.truth());
    TouchTracker colour(camera.truth());
    const std::vector<cv::Point2d> fingers{{100.25, 100.5}, {400.75, 300.0}};
    std::vector<Contact> a, b;
    for (int f = 0; f < 20; ++f) {
        const cv::Mat frame = camera.RenderAt(f, f < 15 ? std::vector<cv::Point2d>{} : fingers);
        cv::Mat bgr;
        cv::cvtColor(frame, bgr, cv::COLOR_GRAY2BGR);
        a = grey.Track(frame).contacts;
        b = colour.Track(bgr).contacts;
    }
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].camera(), b[i].camera());
        EXPECT_EQ(a[i].id, b[i].id);
    }

    // Frames the tracker cannot read say why, and the contacts coast
    // through them as through lost frames; after the coast frames they lift.
    const struct {
        cv::Mat frame;
        const char* reason;
        ContactState state;
    } refused[] = {
        {cv::Mat(480, 640, CV_16UC1, cv::Scalar(9000)), "the frame is not an 8-bit grey, BGR or BGRA image",
         ContactState::Coasting},
        {cv::Mat(), "the frame is empty", ContactState::Coasting},
        {cv::Mat(480, 640, CV_8UC2), "the frame is not an 8-bit grey, BGR or BGRA image", ContactState::Up},
    };
    for (const auto& r : refused) {
        const quarvel::TouchFrame& c = grey.Track(r.frame);
        ASSERT_EQ(c.size(), 2u) << r.reason;
        EXPECT_EQ(c[0].state, r.state) << r.reason;
        EXPECT_FALSE(c.status.ok);
        EXPECT_EQ(c.status.reason, r.reason);
    }
    const quarvel::TouchFrame& readable = grey.Track(camera.RenderAt(23, {}));
    EXPECT_TRUE(readable.empty());
    EXPECT_TRUE(readable.status.ok);
    EXPECT_TRUE(readable.status.reason.empty());
    EXPECT_EQ(readable.frame, 23);

    // Another camera size: the contacts lift and the background is learned
    // again for it.
    colour.Track(camera.RenderAt(20, fingers));
    const std::vector<Contact> resized = colour.Track(cv::Mat(240, 320, CV_8UC1, cv::Scalar(40))).contacts;
    ASSERT_EQ(resized.size(), 2u);
    EXPECT_EQ(resized[1].state, ContactState::Up);
    EXPECT_TRUE(colour.learning());
    EXPECT_EQ(colour.frames(), 22);
}

TEST(TouchTracker, RepeatedFramesChangeNothingUntilTheCameraHasFrozen) {
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(640, 480)), IrOptions());
    TouchTracker tracker(camera.truth());
    for (int f = 0; f < 15; ++f) {
        tracker.Track(camera.RenderAt(f, {}));
    }
    tracker.Track(camera.RenderAt(15, {{200.0, 200.0}}));
    const cv::Mat frame = camera.RenderAt(16, {{203.0, 200.0}});
    const std::vector<Contact> first = tracker.Track(frame).contacts;
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].state, ContactState::Down);
    // The same frame for the next second (30 frames a second): the contact
    // stays where it was, not moved, not lifted.
    for (int f = 17; f < 47; ++f) {
        const quarvel::TouchFrame& again = tracker.Track(frame);
        ASSERT_EQ(again.size(), 1u) << f;
        EXPECT_EQ(again[0].state, ContactState::Move);
        EXPECT_EQ(again[0].camera(), first[0].camera());
        EXPECT_TRUE(again.status.repeated);
    }
    // Beyond a second the camera has frozen: what it shows is not
    // believed, and the contact lifts after its coast frames.
    std::vector<Contact> c;
    for (int f = 47; f < 50; ++f) {
        const quarvel::TouchFrame& frozen = tracker.Track(frame);
        EXPECT_TRUE(frozen.status.lost);
        c = frozen.contacts;
    }
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].state, ContactState::Up);
    // The next fresh frame that shows the finger starts a new contact.
    tracker.Track(camera.RenderAt(50, {{203.0, 200.0}}));
    c = tracker.Track(camera.RenderAt(51, {{203.0, 200.0}})).contacts;
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].id, 2);
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
    std::vector<Contact> before = tracker.Track(camera.RenderAt(16, crowd(4))).contacts;
    ASSERT_EQ(before.size(), 80u);
    for (int f = 17; f < 22; ++f) {
        const std::vector<Contact> after = tracker.Track(camera.RenderAt(f, crowd(4.0 * (f - 15)))).contacts;
        ASSERT_EQ(after.size(), 80u);
        for (std::size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(after[i].id, before[i].id);
            EXPECT_EQ(after[i].state, ContactState::Move);
            EXPECT_NEAR(after[i].camera().x - before[i].camera().x, 4.0, 0.2);
        }
        before = after;
    }
}

}  // namespace

namespace {

// Resident memory of this process, bytes.
long long Resident() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    long long pages = 0;
    long long resident = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lld %lld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

TEST(TouchTracker, TensOfThousandsOfNoisyFramesKeepItsMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(QUARVEL_COVERAGE_BUILD)
    GTEST_SKIP() << "a sanitizer's own bookkeeping grows with every allocation (coverage: too slow unoptimised)";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    GTEST_SKIP() << "a sanitizer's own bookkeeping grows with every allocation";
#endif
#endif
    // Rain on a window: thirty finger-sized specks at new places in every
    // frame, and the sensor's noise; each speck a blob the tracker weighs.
    // (A small camera: what could grow is kept per blob, not per pixel.)
    IrCamera camera(quarvel::test::TouchTruth(cv::Size(320, 240)), IrOptions());
    cv::RNG random(7);
    std::vector<cv::Mat> frames;
    for (int f = 0; f < 64; ++f) {
        std::vector<cv::Point2d> specks;
        for (int k = 0; k < 30; ++k) {
            specks.emplace_back(random.uniform(8.0, 312.0), random.uniform(8.0, 232.0));
        }
        frames.push_back(camera.RenderAt(15 + f, specks));
    }
    TouchTracker tracker(camera.truth());
    for (int f = 0; f < 15; ++f) {
        tracker.Track(camera.RenderAt(f, {}));
    }
    long long warm = 0;
    for (int f = 0; f < 20000; ++f) {
        tracker.Track(frames[static_cast<std::size_t>(f % 64)]);
        if (f == 2000) {
            warm = Resident();
        }
    }
    const long long grown = Resident() - warm;
    std::printf("20 000 frames of 30 random specks: resident memory grew %lld bytes after warm-up\n", grown);
    EXPECT_LE(grown, 1 << 20);
}

}  // namespace
