// A camera knocked after its background was learned (3 px and 0.3 degrees,
// a cleaner's elbow): the tracker notices, and with followDrift taps stay
// where the fingers are; a lamp switched on is no knock.

#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include <quarvel/touch.h>

#include "support/ir_camera.h"

namespace {

using quarvel::test::ScriptedTouch;

ScriptedTouch Tap(int first, cv::Point2d at) { return {first, first + 10, [at](int) { return at; }}; }

struct Knocked {
    quarvel::DriftStatus soon;   // two seconds after the knock
    quarvel::DriftStatus last;
    double tapRms = 0.0;         // display px, the taps after the knock
    int tapFrames = 0;
};

// 11 s at 30 frames a second; from frame 150 the camera is knocked (every
// frame moved by `knock` about the image's centre) or a lamp is on.
// By default the surface's frame shows (the surround darker than the
// surface).
quarvel::test::IrOptions Framed() {
    quarvel::test::IrOptions options;
    options.surroundShare = 0.3;
    return options;
}

Knocked Session(bool knock, bool follow, const quarvel::test::IrOptions& options = Framed()) {
    const cv::Size size(640, 480);
    const quarvel::Model truth = quarvel::test::TouchTruth(size);
    quarvel::test::IrScene scene;
    if (!knock) {
        scene.lamps.push_back({150, cv::Rect2d(320, 0, 320, 240), 40.0});
    }
    quarvel::test::IrCamera camera(truth, options, scene);
    cv::Matx23d moved(cv::getRotationMatrix2D(cv::Point2f(size.width / 2.0f - 0.5f, size.height / 2.0f - 0.5f), 0.3, 1.0));
    moved(0, 2) += 3.0;
    const std::vector<ScriptedTouch> script = {Tap(60, {800, 500}), Tap(240, {500, 400}), Tap(260, {1400, 300}),
                                               Tap(280, {960, 800}), Tap(300, {300, 900})};
    quarvel::TrackerOptions o;
    o.followDrift = follow;
    quarvel::TouchTracker tracker(truth, o);
    Knocked out;
    double sum2 = 0.0;
    for (int f = 0; f < 330; ++f) {
        cv::Mat frame = camera.Render(f, script);
        if (knock && f >= 150) {
            cv::warpAffine(frame, frame, moved, size, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        }
        const quarvel::TouchFrame& seen = tracker.Track(frame);
        if (f == 210) {
            out.soon = tracker.drift();
        }
        for (const ScriptedTouch& s : script) {
            if (s.first < 240 || !s.Down(f) || f == s.first) {
                continue;  // (a contact comes the frame after its finger lands)
            }
            double nearest = 1e9;
            for (const quarvel::Contact& c : seen) {
                nearest = std::min(nearest, cv::norm(c.display() - s.at(f)));
            }
            sum2 += nearest * nearest;
            ++out.tapFrames;
        }
    }
    out.last = tracker.drift();
    out.tapRms = out.tapFrames > 0 ? std::sqrt(sum2 / out.tapFrames) : 0.0;
    return out;
}

TEST(CameraDrift, AKnockIsSeenAndFollowedALampIsNot) {
    const Knocked noticed = Session(true, false);
    EXPECT_TRUE(noticed.soon.measured);
    EXPECT_GE(noticed.soon.camera, 2.0);
    EXPECT_NEAR(noticed.last.degrees, 0.3, 0.05);
    EXPECT_NEAR(noticed.last.dx, 3.0, 0.1);
    EXPECT_NEAR(noticed.last.dy, 0.0, 0.1);
    EXPECT_GT(noticed.last.display, 5.0);
    EXPECT_GT(noticed.tapRms, 5.0) << "without following, every tap is off";
    const Knocked followed = Session(true, true);
    EXPECT_GT(followed.tapFrames, 30);
    EXPECT_LE(followed.tapRms, 0.3);
    const Knocked lamp = Session(false, false);
    EXPECT_LT(lamp.last.camera, 0.5);
    std::printf("knock: %.2f camera px (%.2f display px, %.2f deg) after 2 s; taps %.2f px rms, followed %.3f; "
                "lamp: %.3f camera px\n",
                noticed.soon.camera, noticed.soon.display, noticed.soon.degrees, noticed.tapRms, followed.tapRms,
                lamp.last.camera);
}

// What the background shows decides what can be measured: a turn needs
// structure away from the centre. One hot spot moves the same whether the
// camera turned or shifted: only the shift is reported, never a made-up
// turn; a plain surface shows nothing, and nothing is reported.
TEST(CameraDrift, OnlyWhatTheBackgroundShowsIsMeasured) {
    struct Case {
        const char* scene;
        double surround;
        double hotSpot;
        bool measured;
        double degrees;
    };
    const Case cases[] = {
        {"the surface's frame and a hot spot", 0.3, 150.0, true, 0.3},
        {"one hot spot", 1.0, 150.0, true, 0.0},
        {"a plain surface", 1.0, 0.0, false, 0.0},
    };
    for (const Case& c : cases) {
        quarvel::test::IrOptions options;
        options.surroundShare = c.surround;
        options.hotSpotLevel = c.hotSpot;
        const Knocked k = Session(true, false, options);
        EXPECT_EQ(k.last.measured, c.measured) << c.scene;
        EXPECT_NEAR(k.last.degrees, c.degrees, 0.05) << c.scene;
        if (c.measured) {
            EXPECT_GE(k.last.camera, 2.0) << c.scene;
            EXPECT_LE(k.last.camera, 5.5) << c.scene;  // the knock moves no pixel further
        } else {
            EXPECT_EQ(k.last.camera, 0.0) << c.scene;
        }
        std::printf("%s: %s, %.2f camera px, %.2f deg\n", c.scene, k.last.measured ? "measured" : "not measured",
                    k.last.camera, k.last.degrees);
    }
}

}  // namespace
