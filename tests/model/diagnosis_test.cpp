// What makes a calibration untrustworthy over its camera image.
#include <gtest/gtest.h>

#include <quarvel/model.h>

#include "support/fixtures.h"

namespace {

using quarvel::Flaw;
using quarvel::Model;
using quarvel::test::ParamsOf;

const cv::Size kDisplay(1680, 1050);

std::vector<Flaw::Kind> KindsOf(const Model& m) {
    std::vector<Flaw::Kind> kinds;
    for (const Flaw& f : quarvel::Diagnose(m)) {
        kinds.push_back(f.kind);
    }
    return kinds;
}

TEST(Diagnosis, ASoundCalibrationHasNoFlaw) {
    EXPECT_TRUE(quarvel::Diagnose(Model(ParamsOf(1280, 720, 1800.0f, cv::Matx33f(1, 0.03f, 40, 0, 1.02f, 30, 2e-5f,
                                                                                 4e-5f, 1)),
                                        kDisplay))
                    .empty());
    // A mirror image is a valid calibration (rear projection), not a fold.
    EXPECT_TRUE(quarvel::Diagnose(Model(ParamsOf(640, 480, 900.0f, cv::Matx33f(-1, 0, 1600, 0, 1, 0, 0, 0, 1)), kDisplay))
                    .empty());
    EXPECT_TRUE(quarvel::Diagnose(Model()).empty());  // no image: nothing to judge
}

TEST(Diagnosis, FocalTooShortStopsTheSetUp) {
    const std::vector<Flaw> flaws = quarvel::Diagnose(Model(ParamsOf(64, 48, 30.0f), kDisplay));
    ASSERT_EQ(flaws.size(), 1u);
    EXPECT_EQ(flaws[0].kind, Flaw::Kind::FocalTooShort);
    EXPECT_NE(flaws[0].message.find("focal value 30 is too short for a 64 x 48 image"), std::string::npos)
        << flaws[0].message;
}

TEST(Diagnosis, WNotPositiveSaysWhereAndWhatHappens) {
    // w = 1 - x / 50 turns negative across the corrected image's right side.
    const std::vector<Flaw> mirrored =
        quarvel::Diagnose(Model(ParamsOf(64, 48, 100.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, -0.02f, 0, 1)), kDisplay));
    ASSERT_EQ(mirrored.size(), 1u);
    EXPECT_EQ(mirrored[0].kind, Flaw::Kind::PointsMirrored);
    EXPECT_NE(mirrored[0].message.find("w is not positive"), std::string::npos);
    EXPECT_NE(mirrored[0].message.find("at camera (63, "), std::string::npos) << mirrored[0].message;
    EXPECT_NE(mirrored[0].message.find("points there are mirrored"), std::string::npos);
    // A zero bottom row: w = 0 everywhere.
    EXPECT_EQ(KindsOf(Model(ParamsOf(64, 48, 100.0f, cv::Matx33f(1, 0, 0, 0, 1, 0, 0, 0, 0)), kDisplay)),
              std::vector<Flaw::Kind>{Flaw::Kind::PointsLost});
}

TEST(Diagnosis, BarrelBeyondItsRadiusFoldsThePicture) {
    // A focal value far too short for the image, with a geometry that lets
    // it run (as a record may hold after a set-up stopped): past the
    // singular radius the barrel mirrors points through the centre.
    const Model folded(ParamsOf(64, 48, 30.0f), kDisplay, quarvel::SetUpBarrel(64, 48, 100.0f, kDisplay));
    EXPECT_EQ(KindsOf(folded), std::vector<Flaw::Kind>{Flaw::Kind::Folded});
    // Exactly on the radius the barrel has no finite value.
    const Model singular(ParamsOf(6, 8, 5.0f), kDisplay, quarvel::SetUpBarrel(6, 8, 50.0f, kDisplay));
    EXPECT_EQ(KindsOf(singular), std::vector<Flaw::Kind>{Flaw::Kind::NoFiniteBarrel});
}

}  // namespace
