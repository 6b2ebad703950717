// The parameter file both ways: what the reader returns over a base, what
// the writer writes, and that each reads back what the other wrote.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include <quarvel/parameter_file.h>

#include "support/fixtures.h"

namespace {

using quarvel::CalibrationParams;
using quarvel::ParameterFile;
using quarvel::ReadParameterFile;
using quarvel::test::CalibrationLines;
using quarvel::test::IniText;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

CalibrationParams Random(std::mt19937& random) {
    std::uniform_real_distribution<float> any(-3000.0f, 3000.0f);
    std::uniform_real_distribution<float> small(-1e-3f, 1e-3f);
    CalibrationParams p;
    p.imageWidth = static_cast<int>(random() % 4000) + 1;
    p.imageHeight = -static_cast<int>(random() % 4000);
    p.focalZ = any(random);
    for (int i = 0; i < 9; ++i) {
        p.matrix.val[i] = i >= 6 ? small(random) : any(random);
    }
    p.mapTop = any(random);
    p.mapBottom = std::nextafter(any(random), 0.0f);
    p.keyStoneOriginX = any(random);
    p.keyStoneOriginY = 1e-30f;
    p.planeNormal[0] = small(random);
    p.planeNormal[1] = any(random);
    p.planeNormal[2] = -0.0f;
    p.rotateAngle = any(random) / 1000;
    p.shearX = 3.4e38f;
    p.displayWidth = static_cast<int>(random() % 4000) + 1;
    p.displayHeight = static_cast<int>(random() % 4000) + 1;
    return p;
}

void ExpectSame(const CalibrationParams& a, const CalibrationParams& b) {
    EXPECT_EQ(a.imageWidth, b.imageWidth);
    EXPECT_EQ(a.imageHeight, b.imageHeight);
    EXPECT_EQ(a.focalZ, b.focalZ);
    EXPECT_EQ(a.matrix, b.matrix);
    EXPECT_EQ(a.mapTop, b.mapTop);
    EXPECT_EQ(a.mapBottom, b.mapBottom);
    EXPECT_EQ(a.keyStoneOriginX, b.keyStoneOriginX);
    EXPECT_EQ(a.keyStoneOriginY, b.keyStoneOriginY);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a.planeNormal[i], b.planeNormal[i]) << i;
    }
    EXPECT_EQ(a.rotateAngle, b.rotateAngle);
    EXPECT_EQ(a.shearX, b.shearX);
    EXPECT_EQ(a.displayWidth, b.displayWidth);
    EXPECT_EQ(a.displayHeight, b.displayHeight);
}

TEST(ParameterFileRoundTrip, EveryValueReadsBackExactly) {
    TempDir dir;
    std::mt19937 random(3);
    for (int i = 0; i < 40; ++i) {
        const CalibrationParams written = Random(random);
        const bool utf8 = i % 2 == 1;
        const std::string path = (dir.path() / "p.ini").string();
        const quarvel::Result status = quarvel::WriteParameterFile(path, written, utf8);
        ASSERT_TRUE(status.ok) << status.reason;
        const ParameterFile read = ReadParameterFile(path);
        ASSERT_TRUE(read.read);
        ExpectSame(read.params, written);
        EXPECT_EQ(read.report.encoding, utf8 ? quarvel::Encoding::Utf8 : quarvel::Encoding::Gbk);
        for (const quarvel::EntryReport& e : read.report.entries) {
            EXPECT_EQ(e.status, quarvel::EntryStatus::Found) << e.key;
        }
        EXPECT_TRUE(read.report.unknownKeys.empty());
    }
}

TEST(ParameterFileWriter, AFileIsWrittenWholeOrNotAtAll) {
    TempDir dir;
    // A directory stands where the file should go: the temporary beside it
    // is written, the rename fails, and nothing is left behind.
    std::filesystem::create_directory(dir.path() / "taken.ini");
    const quarvel::Result taken = quarvel::WriteParameterFile((dir.path() / "taken.ini").string(), CalibrationParams());
    EXPECT_FALSE(taken);
    EXPECT_NE(taken.reason.find("taken.ini"), std::string::npos) << taken.reason;
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
    const quarvel::Result nowhere = quarvel::WriteParameterFile("/nonexistent/dir/x.ini", CalibrationParams());
    EXPECT_FALSE(nowhere.ok);
    EXPECT_NE(nowhere.reason.find("/nonexistent/dir/x.ini"), std::string::npos) << nowhere.reason;
}

TEST(ParameterFileReader, WhatTheFileLacksKeepsTheBase) {
    TempDir dir;
    CalibrationParams base;
    base.imageWidth = 640;
    base.focalZ = 900;
    base.rotateAngle = 1.75f;
    base.matrix = cv::Matx33f(2, 2, 2, 2, 2, 2, 2, 2, 2);
    base.planeNormal[0] = base.planeNormal[1] = base.planeNormal[2] = 7;
    base.displayWidth = 800;
    base.displayHeight = 600;
    const std::string text = IniText({{"桶形校正参数", "焦点Z值", "1200"},
                                      {"旋转参数", "旋转角度", "nan"},
                                      {"梯形校正参数", "映射平面法向量1", "0.5"},
                                      {"矩阵参数", "a11", "3"}});
    const ParameterFile f = ReadParameterFile(dir.Write("partial.ini", ToGbk(text)), base);
    ASSERT_TRUE(f.read);
    EXPECT_EQ(f.params.imageWidth, 640);     // missing: the base's
    EXPECT_EQ(f.params.focalZ, 1200.0f);     // found
    EXPECT_EQ(f.params.rotateAngle, 1.75f);  // not a number: the base's
    // Matrix elements the file lacks are 0; a missing normal component
    // repeats the one before it (the first: 0).
    EXPECT_EQ(f.params.matrix, cv::Matx33f(0, 0, 0, 0, 3, 0, 0, 0, 0));
    EXPECT_EQ(f.params.planeNormal[0], 0.0f);
    EXPECT_EQ(f.params.planeNormal[1], 0.5f);
    EXPECT_EQ(f.params.planeNormal[2], 0.5f);
    EXPECT_EQ(f.params.displayWidth, 800);  // no [quarvel] section
    EXPECT_EQ(f.report.entries[10].status, quarvel::EntryStatus::NotANumber);
    EXPECT_EQ(f.report.entries[0].status, quarvel::EntryStatus::Missing);
    EXPECT_FALSE(f.report.displayQueried);  // nothing was set up
}

TEST(ParameterFileReader, AnUnreadablePathGivesTheBaseBack) {
    CalibrationParams base;
    base.focalZ = 5;
    for (const char* path : {"", "/nonexistent/p.ini", "/dev/zero", "/tmp"}) {
        const ParameterFile f = ReadParameterFile(path, base);
        EXPECT_FALSE(f.read) << path;
        EXPECT_EQ(f.params.focalZ, 5.0f);
        EXPECT_FALSE(f.report.loaded);
    }
}

TEST(ParameterValueText, ShortestExactTextBothWays) {
    EXPECT_EQ(quarvel::FormatParameterValue(0.02f), "0.02");
    EXPECT_EQ(quarvel::FormatParameterValue(1800.0f), "1800");
    EXPECT_EQ(quarvel::FormatParameterValue(-4e-5f), "-4e-05");
    std::mt19937 random(9);
    for (int i = 0; i < 10000; ++i) {
        float v;
        const std::uint32_t bits = static_cast<std::uint32_t>(random());
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v)) {
            continue;
        }
        const auto back = quarvel::ParseParameterValue(quarvel::FormatParameterValue(v));
        ASSERT_TRUE(back.has_value()) << quarvel::FormatParameterValue(v);
        ASSERT_EQ(std::memcmp(&*back, &v, sizeof v), 0) << quarvel::FormatParameterValue(v);
    }
    EXPECT_EQ(quarvel::ParseParameterValue(" +1.5 "), 1.5f);
    for (const char* bad : {"", "nan", "inf", "1e39", "0x10", "1,5", "+-1"}) {
        EXPECT_FALSE(quarvel::ParseParameterValue(bad).has_value()) << bad;
    }
    EXPECT_EQ(quarvel::ParseParameterInteger("\t-720 "), -720);
    for (const char* bad : {"1.0", "2147483648", "", "12a"}) {
        EXPECT_FALSE(quarvel::ParseParameterInteger(bad).has_value()) << bad;
    }
}

}  // namespace
