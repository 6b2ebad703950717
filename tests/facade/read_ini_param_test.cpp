// Loading a parameter file into the record: Part of what a load keeps and
// replaces is only visible in the record itself (the reader handle, the
// normal list), the rest through the instance's model.
#include <gtest/gtest.h>

#include "support/fixtures.h"
#include "support/test_peer.h"

namespace {

using P = QuarvelTestPeer;
using quarvel::test::CalibrationLines;
using quarvel::test::IniLine;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

const std::vector<std::string> kMatrix = {"1.5", "0.25", "-3", "0.125", "2", "7", "0.001", "0.002", "1"};

void ExpectAllValuesLoaded(const Quarvel& q) {
    const quarvel::CalibrationParams p = q.GetModel().params();
    EXPECT_EQ(p.imageWidth, 640);
    EXPECT_EQ(p.imageHeight, 480);
    EXPECT_EQ(p.focalZ, 900.0f);
    EXPECT_EQ(p.mapTop, 2.5f);
    EXPECT_EQ(p.mapBottom, -1.5f);
    EXPECT_EQ(p.keyStoneOriginX, 320.0f);
    EXPECT_EQ(p.keyStoneOriginY, 240.0f);
    EXPECT_EQ(P::planeNormal(q), (std::vector<float>{0.125f, -0.25f, 1.0f}));
    EXPECT_EQ(p.rotateAngle, 1.75f);
    EXPECT_EQ(p.shearX, 0.0625f);
    const cv::Matx33f& m = p.matrix;
    EXPECT_EQ(m(0, 0), 1.5f);
    EXPECT_EQ(m(0, 1), 0.25f);  // a01: row 0, column 1
    EXPECT_EQ(m(0, 2), -3.0f);
    EXPECT_EQ(m(1, 0), 0.125f);  // a10: row 1, column 0
    EXPECT_EQ(m(1, 1), 2.0f);
    EXPECT_EQ(m(1, 2), 7.0f);
    EXPECT_EQ(m(2, 0), 0.001f);
    EXPECT_EQ(m(2, 1), 0.002f);
    EXPECT_EQ(m(2, 2), 1.0f);
}

class ParameterFile : public testing::Test {
protected:
    std::string Utf8() const { return IniText(CalibrationLines(640, 480, 900.0f, kMatrix)); }
    TempDir dir;
};

TEST_F(ParameterFile, GbkFileLoadsAllTwentyOneValues) {
    const std::string gbk = ToGbk(Utf8());
    // The names really are GBK bytes: 图像参数 is CD BC CF F1 B2 CE CA FD.
    ASSERT_NE(gbk.find("[\xCD\xBC\xCF\xF1\xB2\xCE\xCA\xFD]"), std::string::npos);
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("cal.ini", gbk).c_str()));
    EXPECT_NE(P::reader(q), nullptr);
    ExpectAllValuesLoaded(q);
    // The set-up ran: 640 x 480 at f = 900 fits the 1680 x 1050 display.
    const quarvel::Geometry g = q.GetModel().geometry();
    EXPECT_EQ(g.centerX, 320.0f);
    EXPECT_GT(g.outWidth, 640);
    EXPECT_EQ(g.scale, 1.0f);
}

TEST_F(ParameterFile, Utf8FilesLoadTheSame) {
    for (const std::string& bytes : {Utf8(), "\xEF\xBB\xBF" + Utf8()}) {
        Quarvel q;
        ASSERT_TRUE(q.ReadIniParam(dir.Write("cal-utf8.ini", bytes).c_str()));
        ExpectAllValuesLoaded(q);
    }
}

TEST_F(ParameterFile, CrlfAndSpacingDoNotMatter) {
    std::string text;
    for (const IniLine& l : CalibrationLines(640, 480, 900.0f, kMatrix)) {
        text += "  [ " + l.section + " ]  \r\n\t" + l.key + "  =  " + l.value + " \r\n; comment\r\n";
    }
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("crlf.ini", ToGbk(text)).c_str()));
    ExpectAllValuesLoaded(q);
}

TEST_F(ParameterFile, MissingEntriesKeepEarlierValues) {
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("full.ini", ToGbk(Utf8())).c_str()));
    // Only the focal value and one matrix element.
    const std::string partial = IniText({{"桶形校正参数", "焦点Z值", "1200"}, {"矩阵参数", "a11", "3"}});
    ASSERT_TRUE(q.ReadIniParam(dir.Write("partial.ini", ToGbk(partial)).c_str()));
    const quarvel::CalibrationParams p = q.GetModel().params();
    EXPECT_EQ(p.imageWidth, 640);
    EXPECT_EQ(p.mapTop, 2.5f);
    EXPECT_EQ(p.rotateAngle, 1.75f);
    EXPECT_EQ(p.focalZ, 1200.0f);
    // Matrix elements the file lacks become 0.
    EXPECT_EQ(p.matrix(1, 1), 3.0f);
    EXPECT_EQ(p.matrix(0, 0), 0.0f);
    EXPECT_EQ(p.matrix(2, 2), 0.0f);
}

TEST_F(ParameterFile, MissingNormalComponentRepeatsThePreviousOne) {
    const std::string text = IniText({{"梯形校正参数", "映射平面法向量1", "0.5"}});
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("normal.ini", ToGbk(text)).c_str()));
    EXPECT_EQ(P::planeNormal(q), (std::vector<float>{0.0f, 0.5f, 0.5f}));
}

TEST_F(ParameterFile, MalformedValuesKeepEarlierValues) {
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("full.ini", ToGbk(Utf8())).c_str()));
    const std::string bad = IniText({{"图像参数", "图像宽度", "64O"},
                                     {"图像参数", "图像高度", "99999999999"},
                                     {"桶形校正参数", "焦点Z值", "1,5"},
                                     {"旋转参数", "旋转角度", "nan"}});
    ASSERT_TRUE(q.ReadIniParam(dir.Write("bad.ini", ToGbk(bad)).c_str()));
    const quarvel::CalibrationParams p = q.GetModel().params();
    EXPECT_EQ(p.imageWidth, 640);
    EXPECT_EQ(p.imageHeight, 480);
    EXPECT_EQ(p.focalZ, 900.0f);
    EXPECT_EQ(p.rotateAngle, 1.75f);
}

TEST_F(ParameterFile, ReloadReplacesTheNormalVector) {
    Quarvel q;
    const std::string first = dir.Write("first.ini", ToGbk(Utf8()));
    ASSERT_TRUE(q.ReadIniParam(first.c_str()));
    ASSERT_TRUE(q.ReadIniParam(first.c_str()));
    EXPECT_EQ(P::planeNormal(q), (std::vector<float>{0.125f, -0.25f, 1.0f}));
    const std::string changed = IniText({{"梯形校正参数", "映射平面法向量0", "0"},
                                         {"梯形校正参数", "映射平面法向量1", "0"},
                                         {"梯形校正参数", "映射平面法向量2", "-1"}});
    ASSERT_TRUE(q.ReadIniParam(dir.Write("second.ini", ToGbk(changed)).c_str()));
    EXPECT_EQ(P::planeNormal(q), (std::vector<float>{0.0f, 0.0f, -1.0f}));
}

TEST_F(ParameterFile, UnreadablePathReturnsFalseAndChangesNothing) {
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("good.ini", ToGbk(Utf8())).c_str()));
    const std::string missing = (dir.path() / "missing.ini").string();
    for (const char* path : {static_cast<const char*>(nullptr), "", missing.c_str(), dir.path().c_str(), "/dev/zero"}) {
        EXPECT_FALSE(q.ReadIniParam(path)) << (path ? path : "(null)");
    }
    // The reader handle is the only thing a failed load drops.
    EXPECT_EQ(P::reader(q), nullptr);
    ExpectAllValuesLoaded(q);
}

TEST_F(ParameterFile, OverviewExampleCorrectsToFourteenEight) {
    const std::string text = IniText(CalibrationLines(64, 48, 100.0f, {"1", "0", "0", "0", "1", "0", "0", "0", "1"}));
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("overview.ini", ToGbk(text)).c_str()));
    const CvPoint r = q.CorrectPoint(cvPoint(10, 5));
    EXPECT_EQ(r.x, 14);
    EXPECT_EQ(r.y, 8);
}

TEST_F(ParameterFile, ALoadWhoseFocalIsTooShortKeepsTheEarlierGeometry) {
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("good.ini", ToGbk(IniText(CalibrationLines(64, 48, 100.0f, kMatrix))))));
    const quarvel::Geometry before = q.GetModel().geometry();
    ASSERT_TRUE(q.ReadIniParam(dir.Write("short.ini", ToGbk(IniText(CalibrationLines(100, 48, 30.0f, kMatrix))))));
    const quarvel::Geometry after = q.GetModel().geometry();
    EXPECT_EQ(q.GetLoadReport().setup.outcome, quarvel::Geometry::Outcome::Stopped);
    EXPECT_EQ(after.centerX, 50.0f);  // the source centre is stored on every path
    EXPECT_EQ(after.outWidth, before.outWidth);
    EXPECT_EQ(after.outCenterX, before.outCenterX);
    EXPECT_EQ(after.scale, before.scale);
    // The private set-up, run again by itself, is the same pure function.
    Quarvel again = q;
    P::ComputeBarrelParam(again);
    EXPECT_EQ(again.GetModel().geometry().outWidth, before.outWidth);
}

TEST_F(ParameterFile, ZeroFocalLoadGivesTheSourceGeometry) {
    const std::string text = IniText(CalibrationLines(641, 480, 0.0f, kMatrix));
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("flat.ini", ToGbk(text)).c_str()));
    const quarvel::Geometry g = q.GetModel().geometry();
    EXPECT_EQ(g.outWidth, 641);
    EXPECT_EQ(g.outHeight, 480);
    EXPECT_EQ(g.outCenterX, 320.5f);
    EXPECT_EQ(g.outCenterY, 240.0f);
}

}  // namespace
