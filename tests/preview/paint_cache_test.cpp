// The cached preview paints exactly what painting every pixel through the
// chain paints, whatever changed in between, on the class and on a Preview
// of a model; the filled picture has no holes.
#include <gtest/gtest.h>

#include <thread>

#include <opencv2/imgproc.hpp>

#include <quarvel/preview.h>
#include <quarvel/quarvel.h>

#include "preview/canvas.h"
#include "support/fixtures.h"

namespace {

using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

std::string File(const TempDir& dir, const std::string& name, int w, int h, float f, const std::vector<std::string>& m) {
    return dir.Write(name, ToGbk(IniText(CalibrationLines(w, h, f, m))));
}

cv::Mat Noise(int rows, int cols, int seed) {
    cv::Mat m(rows, cols, CV_8UC1);
    cv::theRNG().state = static_cast<std::uint64_t>(seed);
    cv::randu(m, 1, 256);
    return m;
}

double Differs(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }

TEST(PaintCache, CachedCanvasesEqualDirectPaintingAfterEveryChange) {
    TempDir dir;
    const std::vector<std::string> keystone = {"1.0", "0.03", "40", "0", "1.02", "30", "0.00002", "0.00004", "1"};
    const std::vector<std::string> shift = {"1", "0", "-10", "0", "1", "0", "0", "0", "1"};
    const std::string files[] = {File(dir, "a.ini", 1280, 720, 1800.0f, keystone), File(dir, "b.ini", 640, 480, 0.0f, shift),
                                 File(dir, "c.ini", 1680, 1050, 2600.0f, keystone)};
    Quarvel q;
    for (const std::string& file : files) {
        ASSERT_TRUE(q.ReadIniParam(file));
        for (const cv::Size size : {cv::Size(1280, 720), cv::Size(640, 480), cv::Size(1700, 1100)}) {
            const cv::Mat source = Noise(size.height, size.width, size.width);
            const cv::Mat direct = quarvel::detail::PaintCanvas(q.GetModel(), source);
            EXPECT_EQ(Differs(q.RenderBarrel(source), direct), 0.0) << file << " " << size;  // builds
            EXPECT_EQ(Differs(q.RenderBarrel(source), direct), 0.0) << file << " " << size;  // gathers
            // A strided view of a larger image: another layout, another map.
            const cv::Mat wide = Noise(size.height, size.width + 7, 3);
            const cv::Mat view = wide(cv::Rect(0, 0, size.width, size.height));
            EXPECT_EQ(Differs(q.RenderBarrel(view), quarvel::detail::PaintCanvas(q.GetModel(), view)), 0.0);
        }
    }
    // Each call that changes the calibration drops the cache.
    const cv::Mat source = Noise(720, 1280, 9);
    ASSERT_TRUE(q.ReadIniParam(files[0]));
    const cv::Mat before = q.RenderBarrel(source);
    q.SetDisplaySize(800, 600);
    ASSERT_TRUE(q.ReadIniParam(files[0]));
    const cv::Mat small = q.RenderBarrel(source);
    EXPECT_GT(Differs(small, before), 0.0);
    EXPECT_EQ(Differs(small, quarvel::detail::PaintCanvas(q.GetModel(), source)), 0.0);
    Quarvel copy = q;  // a copy paints its own calibration
    copy.SetDisplaySize(0, 0);
    ASSERT_TRUE(copy.ReadIniParam(files[0]));
    EXPECT_EQ(Differs(copy.RenderBarrel(source), before), 0.0);
    copy = q;
    EXPECT_EQ(Differs(copy.RenderBarrel(source), small), 0.0);
    quarvel::CalibrationParams params;
    params.imageWidth = 1280;
    params.imageHeight = 720;
    q.LoadParams(params);  // identity, no barrel
    const cv::Mat identity = q.RenderBarrel(source);
    EXPECT_EQ(Differs(identity(cv::Rect(0, 0, 1280, 720)), source), 0.0);
    // The same with a lens stage in front: painted through it.
    quarvel::LensStage& lens = params.lens;
    lens.form = quarvel::LensStage::Form::Polynomial;
    lens.centerX = 650.0;
    lens.centerY = 350.0;
    lens.focal = 800.0;
    lens.k[0] = -0.1;
    q.LoadParams(params);
    ASSERT_TRUE(q.GetModel().hasLensStage());
    const cv::Mat staged = q.RenderBarrel(source);
    EXPECT_GT(Differs(staged, identity), 0.0);
    EXPECT_EQ(Differs(staged, quarvel::detail::PaintCanvas(q.GetModel(), source)), 0.0);
}

TEST(PreviewThreads, SeveralThreadsRenderOneInstanceAndOnePreview) {
    TempDir dir;
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(File(dir, "a.ini", 640, 480, 900.0f, {"1", "0.01", "5", "0", "1", "3", "1e-5", "0", "1"})));
    const cv::Mat source = Noise(480, 640, 4);
    const cv::Mat expected = quarvel::detail::PaintCanvas(q.GetModel(), source);
    const quarvel::Preview preview(q.GetModel());
    std::vector<double> differences(6, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] { differences[t] = Differs(q.RenderBarrel(source), expected); });
        threads.emplace_back([&, t] {
            const quarvel::Preview copy = preview;  // shares the cache
            differences[3 + t] = Differs((t == 0 ? preview : copy).Render(source), expected);
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    for (const double d : differences) {
        EXPECT_EQ(d, 0.0);
    }
}

TEST(PaintCache, APreviewPaintsItsOwnModelWhateverElseItPainted) {
    // One cache, two calibrations: the cache follows the model it is asked
    // with, never a map built for another.
    const quarvel::Model a(quarvel::test::ParamsOf(640, 480, 900.0f), cv::Size(1680, 1050));
    const quarvel::Model b(quarvel::test::ParamsOf(640, 480, 0.0f, cv::Matx33f(1, 0, 7, 0, 1, 3, 0, 0, 1)),
                           cv::Size(1680, 1050));
    const cv::Mat source = Noise(480, 640, 5);
    const quarvel::Preview pa(a);
    const quarvel::Preview pb(b);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Differs(pa.Render(source), quarvel::detail::PaintCanvas(a, source)), 0.0);
        EXPECT_EQ(Differs(pb.Render(source), quarvel::detail::PaintCanvas(b, source)), 0.0);
    }
    EXPECT_EQ(pa.model().params().focalZ, 900.0f);
}

TEST(FilledPicture, LeavesNoHoleInsideThePicture) {
    TempDir dir;
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(File(dir, "a.ini", 1280, 720, 1800.0f,
                                    {"1.0", "0.03", "40", "0", "1.02", "30", "0.00002", "0.00004", "1"})));
    const cv::Mat source(720, 1280, CV_8UC1, cv::Scalar(200));
    const cv::Mat forward = q.RenderBarrel(source);
    const cv::Mat filled = q.RenderBarrelFilled(source);
    ASSERT_EQ(filled.size(), forward.size());
    // A Preview of the instance's model paints the same filled picture.
    EXPECT_EQ(Differs(quarvel::Preview(q.GetModel()).RenderFilled(source), filled), 0.0);
    // The picture: what forward painting reaches, with its holes closed.
    cv::Mat picture = forward > 0;
    cv::morphologyEx(picture, picture, cv::MORPH_CLOSE, cv::Mat::ones(5, 5, CV_8UC1));
    cv::erode(picture, picture, cv::Mat::ones(3, 3, CV_8UC1));
    const int inside = cv::countNonZero(picture);
    const int holesForward = inside - cv::countNonZero(forward & picture);
    const int holesFilled = inside - cv::countNonZero(filled & picture);
    EXPECT_GT(holesForward, 1000);  // the moire the fill is for
    EXPECT_EQ(holesFilled, 0);
    std::printf("picture: %d pixels; holes forward %d (%.1f %%), filled %d\n", inside, holesForward,
                100.0 * holesForward / inside, holesFilled);
    // Nothing is painted away from the picture (its edge, where bilinear
    // sampling reaches half a pixel further, aside).
    cv::Mat near;
    cv::dilate(picture, near, cv::Mat::ones(7, 7, CV_8UC1));
    EXPECT_EQ(cv::countNonZero(filled & ~near), 0);
}

}  // namespace
