// Hostile inputs: whatever file, value, point or image a host hands over,
// the library neither crashes, hangs, reads out of bounds nor invokes
// undefined behaviour (the sanitizer build runs these), refuses what it
// cannot read with a clear false, and keeps earlier state where its rules
// say so. The README's Robustness table lists these cases.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>

#include "platform/tabrel.h"
#include "support/fixtures.h"

namespace {

using quarvel::test::Loaded;
using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

const std::vector<std::string> kIdentity = {"1", "0", "0", "0", "1", "0", "0", "0", "1"};

class Robustness : public testing::Test {
protected:
    // An instance loaded from a good file, to see what a bad one changes.
    void SetUp() override {
        good = ToGbk(IniText(CalibrationLines(640, 480, 900.0f, kIdentity)));
        ASSERT_TRUE(q.ReadIniParam(dir.Write("good.ini", good).c_str()));
    }
    void ExpectGoodValuesKept() {
        EXPECT_EQ(q.GetModel().params().imageWidth, 640);
        EXPECT_EQ(q.GetModel().params().imageHeight, 480);
        EXPECT_EQ(q.GetModel().params().focalZ, 900.0f);
        EXPECT_EQ(q.GetModel().params().rotateAngle, 1.75f);
    }
    // Loads `bytes` as a parameter file; the load itself must succeed.
    void Load(const std::string& bytes) { ASSERT_TRUE(q.ReadIniParam(dir.Write("bad.ini", bytes).c_str())); }
    // The load still corrects and previews without faulting.
    void ExerciseChain() {
        for (const CvPoint p : {cvPoint(0, 0), cvPoint(320, 240), cvPoint(INT_MIN, INT_MAX), cvPoint(-1, 5000)}) {
            (void)q.CorrectPoint(p);
        }
        q.TestBarrelCorrect(cv::Mat(16, 16, CV_8UC1, cv::Scalar(9)));
        EXPECT_EQ(q.GetBarrelImage().size(), cv::Size(1680, 1050));
    }
    TempDir dir;
    std::string good;
    Quarvel q;
};

TEST_F(Robustness, UnreadablePathsAreRefusedAndStateKept) {
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string over = dir.Write("over.ini", good + std::string(quarvel::detail::CTabrel::kMaxFileSize, '\n'));
    const std::string missing = (dir.path() / "missing.ini").string();
    // None of these may block (a FIFO without a writer, endless devices):
    // a load that did would hang here, and ctest's timeout would end it.
    for (const char* path : {static_cast<const char*>(nullptr), "", missing.c_str(), dir.path().c_str(), fifo.c_str(),
                             "/dev/zero", "/dev/urandom", over.c_str()}) {
        EXPECT_FALSE(q.ReadIniParam(path)) << (path ? path : "(null)");
    }
    ExpectGoodValuesKept();
}

TEST_F(Robustness, BinaryGarbageAndNulBytesLoadNothing) {
    std::mt19937 random(1234);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random() & 0xFF);
    }
    Load(garbage);
    ExpectGoodValuesKept();
    // NUL bytes inside names and values: such names cannot be asked for, and
    // a value with a NUL is not a number.
    Load(ToGbk("[图像参数]\n") + std::string("\0", 1) + ToGbk("图像宽度=1\n图像高度=4") + std::string("\0", 1) + "8\n");
    ExpectGoodValuesKept();
    ExerciseChain();
}

TEST_F(Robustness, InvalidEncodingsLoadWhatIsValid) {
    // A GBK lead byte with no trail byte, at the end of a section name.
    Load(ToGbk("[图像参数]\n图像宽度=320\n[矩阵参数") + "\x81]\na00=5\n");
    EXPECT_EQ(q.GetModel().params().imageWidth, 320);
    EXPECT_EQ(q.GetModel().params().matrix(0, 0), 0.0f);
    // A BOM followed by invalid UTF-8: names that do not convert are dropped.
    Load("\xEF\xBB\xBF[\xC3\x28]\nk=1\n[图像参数]\n图像宽度=321\n\xF0\x9F\x98\x80=7\n[broken\n图像高度=99\n");
    EXPECT_EQ(q.GetModel().params().imageWidth, 321);
    EXPECT_EQ(q.GetModel().params().imageHeight, 480);  // under a broken header: belongs nowhere
}

TEST_F(Robustness, HugeLinesAndManySections) {
    std::string text = "[" + std::string(100 * 1024, 'S') + "]\nk=1\n";
    text += "[x]\nk=" + std::string(100 * 1024, '7') + "\n";
    for (int i = 0; i < 5000; ++i) {
        text += "[section " + std::to_string(i) + "]\nkey=" + std::to_string(i) + "\n";
    }
    text += IniText({{"图像参数", "图像宽度", std::string(100 * 1024, '1')}, {"图像参数", "图像高度", "240"}});
    Load(ToGbk(text));
    EXPECT_EQ(q.GetModel().params().imageWidth, 640);  // a 100 KB number is out of range
    EXPECT_EQ(q.GetModel().params().imageHeight, 240);
}

TEST_F(Robustness, ValueForms) {
    struct Case {
        const char* text;
        bool accepted;
        float value;
    };
    const Case cases[] = {
        {"nan", false, 0}, {"inf", false, 0},   {"-inf", false, 0}, {"1e39", false, 0},    {"0x10", false, 0},
        {"5abc", false, 0}, {"+5", true, 5},    {" 5 ", true, 5},   {"-1e-3", true, -1e-3f}, {"1e38", true, 1e38f},
    };
    for (const Case& c : cases) {
        Load(good);
        Load(ToGbk(IniText({{"旋转参数", "旋转角度", c.text}})));
        EXPECT_EQ(q.GetModel().params().rotateAngle, c.accepted ? c.value : 1.75f) << c.text;
    }
    for (const char* integer : {"2147483648", "-2147483649", "99999999999999999999", "1.0", "0x10"}) {
        Load(good);
        Load(ToGbk(IniText({{"图像参数", "图像宽度", integer}})));
        EXPECT_EQ(q.GetModel().params().imageWidth, 640) << integer;
    }
}

TEST_F(Robustness, ExtremeImageSizes) {
    for (const auto& [w, h] : {std::pair{-640, 480}, std::pair{0, 0}, std::pair{INT_MAX, INT_MAX},
                               std::pair{INT_MIN, INT_MIN}, std::pair{1, 1}}) {
        for (const float focal : {900.0f, 0.0f, 1e30f}) {
            Load(ToGbk(IniText(CalibrationLines(w, h, focal, kIdentity))));
            EXPECT_EQ(q.GetModel().params().imageWidth, w);
            ExerciseChain();
        }
    }
}

TEST_F(Robustness, ExtremeFocalValues) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float tiny = std::nextafter(0.00001f, 1.0f);
    for (const float focal : {0.00001f, -0.00001f, tiny, -tiny, 1e-30f, 3.4e38f, -3.4e38f, nan,
                              std::numeric_limits<float>::infinity()}) {
        Quarvel r = Loaded(640, 480, focal, cv::Matx33f::eye());
        for (const CvPoint p : {cvPoint(0, 0), cvPoint(320, 240), cvPoint(639, 479), cvPoint(INT_MAX, INT_MIN)}) {
            (void)r.CorrectPoint(p);
        }
        r.TestBarrelCorrect(cv::Mat(8, 8, CV_8UC1, cv::Scalar(1)));
    }
    // At the zero bounds (and NaN) no barrel correction is applied.
    for (const float off : {0.00001f, -0.00001f, nan}) {
        const Quarvel r = Loaded(640, 480, off, cv::Matx33f::eye());
        EXPECT_EQ(r.GetModel().geometry().outWidth, 640);
        EXPECT_EQ(r.CorrectPoint(cvPoint(17, 33)).x, 17);
    }
    // Just past the bound the focal value is far too short: the set-up stops.
    const Quarvel shortFocal = Loaded(640, 480, tiny, cv::Matx33f::eye());
    EXPECT_EQ(shortFocal.GetModel().geometry().outWidth, 0);
    // A huge focal value corrects nothing measurable.
    const Quarvel longFocal = Loaded(640, 480, 3.4e38f, cv::Matx33f::eye());
    EXPECT_EQ(longFocal.GetModel().geometry().outWidth, 640);
    EXPECT_EQ(longFocal.CorrectPoint(cvPoint(17, 33)).x, 17);
}

TEST_F(Robustness, NonFiniteMatricesGiveIntMin) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const cv::Matx33f& m : {cv::Matx33f(inf, inf, inf, inf, inf, inf, inf, inf, inf),
                                 cv::Matx33f(nan, 0, 0, 0, nan, 0, 0, 0, nan), cv::Matx33f::zeros()}) {
        Quarvel r = Loaded(64, 48, 100.0f, m);
        const CvPoint p = r.CorrectPoint(cvPoint(10, 5));
        EXPECT_EQ(p.x, INT_MIN);
        EXPECT_EQ(p.y, INT_MIN);
        r.TestBarrelCorrect(cv::Mat(48, 64, CV_8UC1, cv::Scalar(3)));
        EXPECT_EQ(cv::countNonZero(r.GetBarrelImage()), 0);
    }
}

TEST_F(Robustness, PreviewSources) {
    q.TestBarrelCorrect(static_cast<const IplImage*>(nullptr));
    q.TestBarrelCorrect(cv::Mat(1, 1, CV_8UC1, cv::Scalar(200)));
    EXPECT_EQ(cv::countNonZero(q.GetBarrelImage()), 1);
    q.TestBarrelCorrect(cv::Mat(2, 2, CV_8UC3, cv::Scalar(1, 2, 3)));
    q.TestBarrelCorrect(cv::Mat(2, 2, CV_16UC1, cv::Scalar(1)));
    q.TestBarrelCorrect(cv::Mat(2, 2, CV_32FC1, cv::Scalar(1)));
    EXPECT_EQ(cv::countNonZero(q.GetBarrelImage()), 0);
    // A header whose stride is smaller than its width is refused.
    cv::Mat data(4, 4, CV_8UC1, cv::Scalar(1));
    IplImage ipl = cvIplImage(data);
    ipl.widthStep = 2;
    q.TestBarrelCorrect(&ipl);
    EXPECT_EQ(cv::countNonZero(q.GetBarrelImage()), 0);
}

}  // namespace
