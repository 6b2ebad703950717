// What a load reports: entries, near misses, unknown names, files in
// UTF-16.
#include <gtest/gtest.h>

#include <quarvel/parameter_file.h>
#include <quarvel/quarvel.h>

#include "support/fixtures.h"

namespace {

using quarvel::EntryStatus;
using quarvel::LoadReport;
using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

const std::vector<std::string> kMatrix = {"1.02", "0.01", "-5", "0.005", "0.98", "3", "1e-05", "2e-05", "1"};

// UTF-8 text as UTF-16 with its byte-order mark, built byte by byte here
// (BMP text only, which is all a parameter file holds).
std::string Utf16WithBom(const std::string& utf8, bool bigEndian) {
    std::string out = bigEndian ? std::string("\xFE\xFF", 2) : std::string("\xFF\xFE", 2);
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        unsigned code = b;
        std::size_t n = 1;
        if (b >= 0xE0) {
            code = (b & 0x0Fu) << 12 | (utf8[i + 1] & 0x3Fu) << 6 | (utf8[i + 2] & 0x3Fu);
            n = 3;
        } else if (b >= 0xC0) {
            code = (b & 0x1Fu) << 6 | (utf8[i + 1] & 0x3Fu);
            n = 2;
        }
        const char hi = static_cast<char>(code >> 8);
        const char lo = static_cast<char>(code & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        i += n;
    }
    return out;
}

class LoadReportTest : public testing::Test {
protected:
    LoadReport Load(const std::string& bytes, Quarvel& q) {
        EXPECT_TRUE(q.ReadIniParam(dir.Write("p.ini", bytes)));
        return q.GetLoadReport();
    }
    TempDir dir;
};

TEST_F(LoadReportTest, Utf16FilesLoadLikeGbk) {
    const std::string text = IniText(CalibrationLines(1280, 720, 1800.0f, kMatrix));
    Quarvel gbk;
    const LoadReport g = Load(ToGbk(text), gbk);
    ASSERT_EQ(g.encoding, quarvel::Encoding::Gbk);
    for (const bool bigEndian : {false, true}) {
        Quarvel q;
        const LoadReport r = Load(Utf16WithBom(text, bigEndian), q);
        EXPECT_EQ(r.encoding, bigEndian ? quarvel::Encoding::Utf16BE : quarvel::Encoding::Utf16LE);
        ASSERT_EQ(r.entries.size(), 21u);
        for (std::size_t i = 0; i < 21; ++i) {
            EXPECT_EQ(r.entries[i].status, EntryStatus::Found) << r.entries[i].key;
            EXPECT_EQ(r.entries[i].value, g.entries[i].value) << r.entries[i].key;
        }
        for (const CvPoint p : {cvPoint(0, 0), cvPoint(1279, 719), cvPoint(640, 360)}) {
            EXPECT_EQ(q.CorrectPoint(p).x, gbk.CorrectPoint(p).x);
            EXPECT_EQ(q.CorrectPoint(p).y, gbk.CorrectPoint(p).y);
        }
    }
    // A UTF-16 file cut in the middle of a character holds nothing, and says so.
    Quarvel cut;
    const LoadReport r = Load(Utf16WithBom(text, false) + "x", cut);
    EXPECT_EQ(r.encoding, quarvel::Encoding::Utf16LE);
    EXPECT_EQ(r.entries[0].status, EntryStatus::Missing);
}

TEST_F(LoadReportTest, EntriesValuesAndTheirTexts) {
    std::vector<quarvel::test::IniLine> lines = CalibrationLines(1280, 720, 1800.0f, kMatrix);
    lines[1].value = "720.0";        // 图像高度: a float where an integer belongs
    lines.erase(lines.begin() + 10);  // 旋转角度: not used by the correction
    lines.push_back({"矩阵参数", "a33", "1"});
    lines.push_back({"quarvel", "calibrated display", "1920x1080"});
    Quarvel q;
    const LoadReport r = Load(ToGbk(IniText(lines)), q);
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.entries.size(), 21u);
    EXPECT_EQ(r.entries[0].section, "图像参数");
    EXPECT_EQ(r.entries[0].key, "图像宽度");
    EXPECT_EQ(r.entries[0].value, 1280.0);
    EXPECT_TRUE(r.entries[0].integer);
    EXPECT_EQ(r.entries[1].status, EntryStatus::NotANumber);
    EXPECT_EQ(r.entries[1].text, "720.0");
    EXPECT_EQ(r.entries[10].status, EntryStatus::Missing);
    EXPECT_FALSE(r.entries[10].usedByCorrection);
    EXPECT_TRUE(r.entries[20].usedByCorrection);
    EXPECT_EQ(r.entries[12].value, static_cast<double>(1.02f));  // exactly the float read
    ASSERT_EQ(r.unknownKeys.size(), 1u);
    EXPECT_EQ(r.unknownKeys[0].key, "a33");
    EXPECT_EQ(r.calibratedWidth, 1920);
    EXPECT_EQ(r.calibratedHeight, 1080);
    EXPECT_TRUE(r.displayQueried);
    EXPECT_EQ(r.setup.outcome, quarvel::SetupReport::Outcome::Fitted);
    EXPECT_EQ(r.setup.outWidth, q.GetModel().geometry().outWidth);
}

TEST_F(LoadReportTest, ConfigParserStyleNamesAreNearMisses) {
    // What Python's configparser writes: lower-cased keys, and a float
    // where an integer belongs; plus a key in the wrong section and one in
    // full-width letters.
    const std::string text =
        "[图像参数]\n图像宽度 = 1280.0\n图像高度 = 720\n"
        "[桶形校正参数]\n焦点z值 = 1800\n"
        "[梯形校正参数]\n梯形原点x坐标 = 320\n"
        "[切变参数]\nｘ轴切变系数 = 0.5\n"
        "[旋转参数]\na22 = 1\n";
    Quarvel q;
    const LoadReport r = Load(text, q);
    EXPECT_EQ(r.encoding, quarvel::Encoding::Utf8);
    const auto& focal = r.entries[2];
    ASSERT_EQ(focal.status, EntryStatus::Missing);
    ASSERT_EQ(focal.nearMisses.size(), 1u);
    EXPECT_EQ(focal.nearMisses[0].key, "焦点z值");
    EXPECT_EQ(focal.nearMisses[0].differs, "letter case");
    ASSERT_EQ(r.entries[5].nearMisses.size(), 1u);  // 梯形原点X坐标
    EXPECT_EQ(r.entries[11].nearMisses.size(), 1u);  // X轴切变系数
    EXPECT_EQ(r.entries[11].nearMisses[0].differs, "letter case, full-width/half-width form");
    ASSERT_EQ(r.entries[20].nearMisses.size(), 1u);  // a22, in [旋转参数]
    EXPECT_EQ(r.entries[20].nearMisses[0].section, "旋转参数");
    EXPECT_EQ(r.entries[20].nearMisses[0].differs, "another section");
    EXPECT_EQ(r.entries[0].status, EntryStatus::NotANumber);
    EXPECT_TRUE(r.unknownKeys.empty()) << r.unknownKeys[0].key;
    // The report changes nothing in what the load does: the focal value is
    // still not loaded.
    EXPECT_EQ(q.GetModel().params().focalZ, 0.0f);
}

TEST_F(LoadReportTest, AFailedLoadSaysSo) {
    Quarvel q;
    EXPECT_FALSE(q.GetLoadReport().loaded);
    EXPECT_FALSE(q.ReadIniParam(std::string("/nonexistent/p.ini")));
    const LoadReport r = q.GetLoadReport();
    EXPECT_FALSE(r.loaded);
    EXPECT_EQ(r.path, "/nonexistent/p.ini");
    EXPECT_TRUE(r.entries.empty());
}

// Whether a load gives a calibration points can be corrected with: the
// report of the instance and of ReadParameterFile agree, and say why not.
TEST_F(LoadReportTest, SaysWhetherTheLoadGivesAUsableCalibration) {
    const std::vector<std::string> identity = {"1", "0", "0", "0", "1", "0", "0", "0", "1"};
    std::vector<quarvel::test::IniLine> noSize = CalibrationLines(640, 480, 900.0f, identity);
    noSize.erase(noSize.begin(), noSize.begin() + 2);
    std::vector<quarvel::test::IniLine> flatW = CalibrationLines(640, 480, 0.0f, identity);
    flatW.back().value = "0";  // a22: w is 0 at the origin
    const struct {
        const char* name;
        std::string bytes;
        bool ok;
        const char* reason;
    } cases[] = {
        {"good", ToGbk(IniText(CalibrationLines(640, 480, 900.0f, identity))), true, ""},
        {"no barrel", ToGbk(IniText(CalibrationLines(640, 480, 0.0f, identity))), true, ""},
        {"empty", "", false, "holds none of the 21 parameter entries"},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), false, "holds none of the 21"},
        {"no image size", ToGbk(IniText(noSize)), false, "has no image size"},
        {"zero size", ToGbk(IniText(CalibrationLines(0, 480, 0.0f, identity))), false, "image size 0 x 480 is not positive"},
        {"focal too short", ToGbk(IniText(CalibrationLines(640, 480, 100.0f, identity))), false, "is too short"},
        {"w zero", ToGbk(IniText(flatW)), false, "points there are lost"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Write(std::string(c.name) + ".ini", c.bytes);
        Quarvel q;
        ASSERT_TRUE(q.ReadIniParam(path)) << c.name;  // a load reads any readable file, usable or not
        const quarvel::LoadReport r = q.GetLoadReport();
        EXPECT_EQ(r.ok, c.ok) << c.name << ": " << r.reason;
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << c.name << ": " << r.reason;
        EXPECT_EQ(r.ok, r.reason.empty()) << c.name;
        const quarvel::ParameterFile file = quarvel::ReadParameterFile(path);
        EXPECT_TRUE(file.read);
        EXPECT_EQ(file.ok, c.ok) << c.name << ": " << file.reason;
        EXPECT_EQ(file.reason, file.report.reason);
        EXPECT_NE(file.reason.find(c.reason), std::string::npos) << c.name << ": " << file.reason;
    }
    const quarvel::ParameterFile missing = quarvel::ReadParameterFile((dir.path() / "none.ini").string());
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.reason.find("cannot be read"), std::string::npos) << missing.reason;
}

TEST(ReportNames, EveryEncodingHasItsText) {
    using quarvel::Encoding;
    EXPECT_STREQ(quarvel::ToString(Encoding::Gbk), "GBK");
    EXPECT_STREQ(quarvel::ToString(Encoding::Utf8), "UTF-8");
    EXPECT_STREQ(quarvel::ToString(Encoding::Utf16LE), "UTF-16LE");
    EXPECT_STREQ(quarvel::ToString(Encoding::Utf16BE), "UTF-16BE");
    EXPECT_STREQ(quarvel::ToString(static_cast<Encoding>(99)), "unknown");
}

TEST(ReportNames, SpacesWidthsAndStrayBytesInNames) {
    TempDir dir;
    // A byte that is no character makes the whole file GBK; a name that is
    // not valid GBK either is still listed, as the bytes it has.
    const std::string text = std::string("[图像参数]\n\xE3\x80\x80图像宽度\xE3\x80\x80=1280\n图像高度=720\n[桶形校正参数]\n焦点Ｚ值=1800\n") +
                             "[x]\nk\xC3=1\n";
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("p.ini", text)));
    const LoadReport r = q.GetLoadReport();
    EXPECT_EQ(r.encoding, quarvel::Encoding::Gbk);  // not valid UTF-8 as a whole
    bool listed = false;
    for (const quarvel::UnknownKey& k : r.unknownKeys) {
        listed = listed || (k.section == "x" && k.key == "k\xC3");
    }
    EXPECT_TRUE(listed);
}

TEST(ReportNames, NearMissKindsInAUtf8File) {
    TempDir dir;
    const std::string text = "[图像参数]\n\xE3\x80\x80图像宽度\xE3\x80\x80=1280\n[桶形校正参数]\n焦点Ｚ值=1800\n";
    Quarvel q;
    ASSERT_TRUE(q.ReadIniParam(dir.Write("p.ini", text)));
    const LoadReport r = q.GetLoadReport();
    ASSERT_EQ(r.entries[0].nearMisses.size(), 1u);
    EXPECT_EQ(r.entries[0].nearMisses[0].differs, "surrounding space");  // U+3000 is a space
    ASSERT_EQ(r.entries[2].nearMisses.size(), 1u);
    EXPECT_EQ(r.entries[2].nearMisses[0].differs, "full-width/half-width form");
}

}  // namespace
