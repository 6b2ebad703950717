// The lens stage in front of the barrel and the matrix: where it puts
// points against OpenCV's own camera model, the same bits through every
// door (one point, batches, the class, a file read back), its inverse, and
// files an older reader shares.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <opencv2/calib3d.hpp>

#include <quarvel/model.h>
#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

using quarvel::LensStage;
using quarvel::Model;

const cv::Size kCamera(1280, 720);
const cv::Size kDisplay(1920, 1080);

// A calibration with a barrel and a keystone, and a lens stage of `form`
// in front: a webcam-like lens about a centre off the image's, a
// homography onto the display, and, when asked, a residual grid. `scale`
// makes the same camera with more pixels.
quarvel::CalibrationParams Staged(LensStage::Form form, bool grid, double scale = 1.0) {
    const auto s = static_cast<float>(scale);
    quarvel::CalibrationParams p = quarvel::test::ParamsOf(
        static_cast<int>(kCamera.width * scale), static_cast<int>(kCamera.height * scale), 2500.0f * s,
        cv::Matx33f(1.4f / s, 0.02f / s, 20, -0.01f / s, 1.4f / s, 10, 1e-5f / s, 2e-5f / s, 1));
    p.displayWidth = kDisplay.width;
    p.displayHeight = kDisplay.height;
    LensStage& l = p.lens;
    l.form = form;
    l.centerX = 646.5 * scale;
    l.centerY = 355.25 * scale;
    l.focal = 768.0 * scale;
    l.k[0] = form == LensStage::Form::Fisheye ? 0.05 : -0.12;
    l.k[1] = form == LensStage::Form::Fisheye ? -0.01 : 0.04;
    l.p[0] = 8e-4;
    l.p[1] = -5e-4;
    l.homography = cv::Matx33d(1.45, 0.03, 25.0, -0.02, 1.43, 18.0, 2e-5, 1e-5, 1.0) *
                   cv::Matx33d(1.0 / scale, 0, 0, 0, 1.0 / scale, 0, 0, 0, 1);
    if (grid) {
        l.gridColumns = 6;
        l.gridRows = 5;
        for (int i = 0; i < 30; ++i) {
            l.grid.emplace_back(0.3 * std::sin(i * 0.7), 0.2 * std::cos(i * 1.3));
        }
    }
    return p;
}

cv::Point2d Apply(const cv::Matx33d& h, const cv::Point2d& p) {
    const cv::Vec3d v = h * cv::Vec3d(p.x, p.y, 1.0);
    return cv::Point2d(v[0] / v[2], v[1] / v[2]);
}

// The stage's display position by OpenCV's own model: the polynomial lens
// undone with undistortPoints (a mild lens, where it converges), then the
// homography.
cv::Point2d ByOpenCv(const LensStage& l, const cv::Point2d& camera) {
    const cv::Matx33d k(l.focal, 0, l.centerX, 0, l.focal, l.centerY, 0, 0, 1);
    std::vector<cv::Point2d> in = {camera};
    std::vector<cv::Point2d> out;
    cv::undistortPoints(in, out, k, std::vector<double>{l.k[0], l.k[1], l.p[0], l.p[1], l.k[2]}, cv::noArray(), k,
                        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 200, 1e-14));
    return Apply(l.homography, out[0]);
}

TEST(LensStage, PutsPointsWhereOpenCvsCameraModelDoes) {
    // A 1280 x 720 camera, and the same lens on a 4096 x 2304 one, whose
    // lattice is coarser (in pixels) and whose pixels no table holds.
    for (const double scale : {1.0, 3.2}) {
        const quarvel::CalibrationParams p = Staged(LensStage::Form::Polynomial, false, scale);
        const Model m(p, kDisplay);
        ASSERT_TRUE(m.hasLensStage());
        double worst = 0;
        std::vector<cv::Point> pixels;
        for (int y = 0; y < p.imageHeight; y += static_cast<int>(37 * scale)) {
            for (int x = 0; x < p.imageWidth; x += static_cast<int>(41 * scale)) {
                const cv::Point2d c(x + 0.3, y + 0.7);
                worst = std::max(worst, cv::norm(m.CorrectPointSubpixel(c) - ByOpenCv(p.lens, c)));
                pixels.emplace_back(x, y);
            }
        }
        // The stage's lattice is interpolated: within a few thousandths.
        EXPECT_LT(worst, 5e-3) << "scale " << scale;
        std::vector<cv::Point> batch(pixels.size());
        m.CorrectPoints(pixels.data(), batch.data(), pixels.size());
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_EQ(batch[i], m.CorrectPoint(pixels[i])) << pixels[i] << " scale " << scale;
        }
    }
    const quarvel::CalibrationParams p = Staged(LensStage::Form::Polynomial, false);
    // Without a stage, the same values give the barrel and matrix alone.
    quarvel::CalibrationParams plain = p;
    plain.lens = LensStage();
    EXPECT_FALSE(Model(plain, kDisplay).hasLensStage());
    EXPECT_EQ(Model(plain, kDisplay).CorrectPoint(cv::Point(100, 50)),
              quarvel::test::Loaded(plain, kDisplay).CorrectPoint(cv::Point(100, 50)));
}

TEST(LensStage, EveryDoorGivesTheSameBits) {
    quarvel::test::TempDir dir;
    for (const LensStage::Form form : {LensStage::Form::Polynomial, LensStage::Form::Fisheye}) {
        for (const bool grid : {false, true}) {
            const quarvel::CalibrationParams p = Staged(form, grid);
            const std::string path = (dir.path() / "staged.ini").string();
            ASSERT_TRUE(quarvel::WriteParameterFile(path, p));
            Quarvel q;
            q.SetDisplaySize(kDisplay.width, kDisplay.height);
            ASSERT_TRUE(q.ReadIniParam(path));
            const quarvel::LoadReport report = q.GetLoadReport();
            EXPECT_TRUE(report.ok) << report.reason;
            EXPECT_TRUE(report.lens.present && report.lens.applied);
            EXPECT_EQ(report.lens.form, form);
            EXPECT_EQ(report.lens.residual, grid);
            // The file holds the stage exactly: its doubles read back as
            // they were.
            const quarvel::ParameterFile file = quarvel::ReadParameterFile(path);
            EXPECT_EQ(file.params.lens.centerX, p.lens.centerX);
            EXPECT_EQ(file.params.lens.k[1], p.lens.k[1]);
            EXPECT_EQ(file.params.lens.homography, p.lens.homography);
            EXPECT_EQ(file.params.lens.grid, p.lens.grid);

            const Model m(file.params, kDisplay);
            const Model fromClass = q.GetModel();
            // Every camera pixel and a margin around the image, in one
            // batch (which reads the table of every pixel) and in a few
            // small ones (corrected point by point).
            std::vector<cv::Point> all;
            for (int y = -20; y < kCamera.height + 20; ++y) {
                for (int x = -20; x < kCamera.width + 20; ++x) {
                    all.emplace_back(x, y);
                }
            }
            std::vector<cv::Point> points;
            std::vector<std::size_t> at;
            for (std::size_t i = 0; i < all.size(); i += 61) {
                points.push_back(all[i]);
                at.push_back(i);
            }
            std::vector<cv::Point> batch(points.size());
            for (std::size_t from = 0; from < points.size(); from += 1000) {
                m.CorrectPoints(points.data() + from, batch.data() + from, std::min<std::size_t>(1000, points.size() - from));
            }
            std::vector<cv::Point> whole(all.size());
            m.CorrectPoints(all.data(), whole.data(), all.size());
            for (std::size_t i = 0; i < points.size(); ++i) {
                const cv::Point one = m.CorrectPoint(points[i]);
                ASSERT_EQ(batch[i], one) << points[i];
                ASSERT_EQ(whole[at[i]], one) << points[i];
                const CvPoint viaClass = q.CorrectPoint(cvPoint(points[i].x, points[i].y));
                ASSERT_EQ(cv::Point(viaClass.x, viaClass.y), one) << points[i];
                ASSERT_EQ(fromClass.CorrectPoint(points[i]), one);
                // The integer result is the sub-pixel one rounded as the
                // chain rounds.
                const cv::Point2d sub = m.CorrectPointSubpixel(cv::Point2d(points[i]));
                if (std::isfinite(sub.x)) {
                    ASSERT_EQ(one.x, static_cast<int>(std::trunc(sub.x + 0.5)));
                }
            }
        }
    }
}

TEST(LensStage, TheInverseFindsTheCameraPoint) {
    for (const bool grid : {false, true}) {
        const Model m(Staged(LensStage::Form::Polynomial, grid), kDisplay);
        double worst = 0;
        for (int y = 5; y < kCamera.height; y += 61) {
            for (int x = 5; x < kCamera.width; x += 67) {
                const cv::Point2d c(x + 0.25, y + 0.5);
                worst = std::max(worst, cv::norm(m.InvertPoint(m.CorrectPointSubpixel(c)) - c));
            }
        }
        EXPECT_LT(worst, 2e-3) << "grid " << grid;
    }
}

// What a reader of the original sections finds in a file with a stage: the
// 21 entries as always, the lens section among the names it does not know;
// and a section that cannot be used is reported, not applied.
TEST(LensStage, OlderReadersAndDamagedSections) {
    quarvel::test::TempDir dir;
    const quarvel::CalibrationParams p = Staged(LensStage::Form::Polynomial, false);
    const std::string path = (dir.path() / "staged.ini").string();
    ASSERT_TRUE(quarvel::WriteParameterFile(path, p));
    quarvel::CalibrationParams plain = p;
    plain.lens = LensStage();
    const std::string plainPath = (dir.path() / "plain.ini").string();
    ASSERT_TRUE(quarvel::WriteParameterFile(plainPath, plain));
    // The plain file is the staged one without its section, byte for byte.
    const std::string staged = quarvel::test::Slurp(path);
    const std::string alone = quarvel::test::Slurp(plainPath);
    const std::size_t section = staged.find("\r\n[\xBE\xB5\xCD\xB7");
    ASSERT_NE(section, std::string::npos);
    const std::size_t next = staged.find("\r\n[", section + 3);
    EXPECT_EQ(staged.substr(0, section) + staged.substr(next), alone);

    const struct {
        const char* name;
        std::string from;
        std::string to;
        const char* problem;
    } damaged[] = {
        {"form", "form=polynomial", "form=spline", "not polynomial or fisheye"},
        {"focal", "focal=768", "focal=-768", "cannot be used"},
        {"homography", "h22=1", "h22=x", "h22 is not a number"},
        {"grid", "form=polynomial", "form=polynomial\r\ngrid=4x4\r\ngrid x=1 2\r\ngrid y=1 2", "residual grid"},
    };
    for (const auto& d : damaged) {
        std::string text = staged;
        const std::size_t at = text.find(d.from);
        ASSERT_NE(at, std::string::npos) << d.name;
        text.replace(at, d.from.size(), d.to);
        const std::string broken = dir.Write(std::string(d.name) + ".ini", text);
        Quarvel q;
        ASSERT_TRUE(q.ReadIniParam(broken));
        const quarvel::LoadReport r = q.GetLoadReport();
        EXPECT_TRUE(r.lens.present) << d.name;
        EXPECT_FALSE(r.lens.applied) << d.name;
        EXPECT_NE(r.lens.problem.find(d.problem), std::string::npos) << d.name << ": " << r.lens.problem;
        EXPECT_FALSE(r.ok) << d.name;
        EXPECT_NE(r.reason.find("lens section cannot be used"), std::string::npos) << r.reason;
        EXPECT_FALSE(q.GetModel().hasLensStage()) << d.name;
        EXPECT_TRUE(r.unknownKeys.empty()) << d.name;
    }
}

}  // namespace
