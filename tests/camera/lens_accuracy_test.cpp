// Calibrating from one frame through real lenses: OpenCV's camera models
// (its polynomial distortion and its fisheye) and a smooth irregularity,
// none of them the library's own form, judged against the truth over the
// camera's whole view of the display (3 % inset), edges included.
#include <gtest/gtest.h>

#include <cstdio>

#include "camera/scenario.h"

namespace {

using quarvel::test::CalibrateFromOneFrame;
using quarvel::test::Lens;
using quarvel::test::Outcome;
using quarvel::test::Scenario;

struct Case {
    Lens lens;
    cv::Size camera;
    bool mirrored;
    double rms;  // targets, display pixels
    double max;
};

void CheckLens(const Case& c) {
    Scenario s;
    s.lens = c.lens;
    s.camera = c.camera;
    s.mirrored = c.mirrored;
    const Outcome o = CalibrateFromOneFrame(s);
    EXPECT_TRUE(o.fit.ok) << s.Name() << ": " << o.fit.reason << " / " << o.seen.reason;
    EXPECT_LE(o.heldOut, c.rms) << s.Name();
    EXPECT_LE(o.heldOutMax, c.max) << s.Name();
    // The figure a user is shown never flatters: at least half the truth.
    if (o.heldOut > 0.1) {
        EXPECT_GE(o.fit.expectedRms, 0.5 * o.heldOut) << s.Name();
    }
    std::printf("%s: %zu corners, %s, held-out rms %.4f max %.3f px (targets %.2f / %.1f), expected %.4f / %.3f\n",
                s.Name().c_str(), o.seen.pairs.size(), o.fit.model.c_str(), o.heldOut, o.heldOutMax, c.rms, c.max,
                o.fit.expectedRms, o.fit.expectedMax);
}

TEST(LensAccuracy, WebcamLenses) {
    for (const cv::Size camera : {cv::Size(1280, 720), cv::Size(1920, 1080)}) {
        for (const Lens& lens : {quarvel::test::WebcamLens(), quarvel::test::MixedSignsLens(),
                                 quarvel::test::OffCentreLens(), quarvel::test::TangentialLens()}) {
            CheckLens({lens, camera, false, 0.05, 0.3});
        }
    }
}

TEST(LensAccuracy, WideAndWiderLenses) {
    CheckLens({quarvel::test::WideLens(), {1280, 720}, false, 0.08, 0.5});
    CheckLens({quarvel::test::WideLens(), {1280, 720}, true, 0.08, 0.5});
    CheckLens({quarvel::test::WiderLens(), {1280, 720}, false, 0.15, 1.0});
    CheckLens({quarvel::test::WiderLens(), {640, 480}, false, 0.15, 1.0});
}

TEST(LensAccuracy, FisheyeAndIrregularLenses) {
    CheckLens({quarvel::test::FisheyeLens(), {1280, 720}, false, 0.10, 0.6});
    CheckLens({quarvel::test::IrregularLens(), {1280, 720}, false, 0.10, 0.6});
}

}  // namespace
