// The configuration reader: file access, INI syntax and the encodings of
// names.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>

#include "platform/tabrel.h"
#include "platform/text_encoding.h"
#include "support/fixtures.h"

namespace {

using quarvel::detail::CTabrel;
using quarvel::detail::TextEncoding;
using quarvel::test::TempDir;
using quarvel::test::ToGbk;

std::string ValueOf(const CTabrel& r, const char* section, const char* key) {
    const std::string* v = r.Find(section, key);
    return v ? *v : std::string("<missing>");
}

TEST(ReaderSyntax, SectionsKeysCommentsAndLineEnds) {
    const CTabrel r(
        "top=ignored\n"
        "; a comment\n"
        "# another = comment\n"
        "[ s ]\r\n"
        "  a = 1 \r\n"
        "b=two words\n"
        "a=second\n"
        "noequals\n"
        "[t]\n"
        "empty=\n"
        "[s]\n"
        "c=3");  // no final newline
    EXPECT_EQ(ValueOf(r, "s", "a"), "1");
    EXPECT_EQ(ValueOf(r, "s", "b"), "two words");
    EXPECT_EQ(ValueOf(r, "s", "c"), "3");  // a section named twice adds to the first
    EXPECT_EQ(ValueOf(r, "t", "empty"), "");
    EXPECT_EQ(ValueOf(r, "", "top"), "<missing>");  // before any section: belongs to none
    EXPECT_EQ(ValueOf(r, "s", "noequals"), "<missing>");
    EXPECT_EQ(ValueOf(r, "s", "# another"), "<missing>");
    EXPECT_EQ(r.Find(nullptr, "a"), nullptr);
    EXPECT_EQ(r.Find("s", nullptr), nullptr);
}

TEST(ReaderSyntax, ReadsLeaveTheValueAloneWhenTheyFail) {
    const CTabrel r("[s]\nint=42\nfloat=2.5\nword=abc\n");
    int i = -7;
    float f = -7.0f;
    EXPECT_TRUE(r.GetInt("s", "int", i));
    EXPECT_EQ(i, 42);
    EXPECT_TRUE(r.GetFloat("s", "float", f));
    EXPECT_EQ(f, 2.5f);
    EXPECT_FALSE(r.GetInt("s", "float", i));
    EXPECT_EQ(i, 42);
    EXPECT_FALSE(r.GetFloat("s", "word", f));
    EXPECT_FALSE(r.GetFloat("s", "missing", f));
    EXPECT_FALSE(r.GetFloat("nosuch", "int", f));
    EXPECT_EQ(f, 2.5f);
}

TEST(ReaderEncoding, GbkNamesMatchByteForByte) {
    // ']' (0x5D) can be the second byte of a GBK character inside a name.
    const std::string gbk = ToGbk("[图像参数]\n图像宽度=640\n");
    const CTabrel r(gbk + "[\x81\x5D]\nk=1\n");
    EXPECT_EQ(r.encoding(), TextEncoding::Gbk);
    EXPECT_EQ(ValueOf(r, ToGbk("图像参数").c_str(), ToGbk("图像宽度").c_str()), "640");
    EXPECT_EQ(ValueOf(r, "\x81\x5D", "k"), "1");
    // The UTF-8 spelling of the same name does not match a GBK file.
    EXPECT_EQ(ValueOf(r, "图像参数", "图像宽度"), "<missing>");
}

TEST(ReaderEncoding, Utf8NamesAreConvertedToGbk) {
    const std::string utf8 = "[图像参数]\n图像宽度=640\n";
    for (const std::string& text : {utf8, "\xEF\xBB\xBF" + utf8}) {
        const CTabrel r(text);
        EXPECT_EQ(r.encoding(), TextEncoding::Utf8);
        EXPECT_EQ(ValueOf(r, ToGbk("图像参数").c_str(), ToGbk("图像宽度").c_str()), "640");
    }
    // A BOM marks UTF-8 even when what follows is not valid UTF-8; names
    // that cannot be converted are dropped rather than mismatched.
    const CTabrel broken("\xEF\xBB\xBF[\xFF\xFE]\nk=1\n[ok]\nk=2\n");
    EXPECT_EQ(broken.encoding(), TextEncoding::Utf8);
    EXPECT_EQ(ValueOf(broken, "ok", "k"), "2");
    // A character GBK lacks (an emoji) cannot be asked for.
    const CTabrel emoji("[\xF0\x9F\x98\x80]\nk=1\n");
    EXPECT_EQ(emoji.encoding(), TextEncoding::Utf8);
}

TEST(ReaderFiles, OnlyReadableRegularFilesUpToOneMebibyte) {
    TempDir dir;
    EXPECT_EQ(CTabrel::Open(nullptr), nullptr);
    EXPECT_EQ(CTabrel::Open(""), nullptr);
    EXPECT_EQ(CTabrel::Open((dir.path() / "missing").c_str()), nullptr);
    EXPECT_EQ(CTabrel::Open(dir.path().c_str()), nullptr);
    EXPECT_EQ(CTabrel::Open("/dev/zero"), nullptr);
    EXPECT_EQ(CTabrel::Open("/dev/null"), nullptr);

    // A FIFO with no writer must not block the caller.
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(CTabrel::Open(fifo.c_str()), nullptr);

    const std::string exact = dir.Write("exact.ini", std::string(CTabrel::kMaxFileSize - 8, ' ') + "[s]\nk=1");
    const auto r = CTabrel::Open(exact.c_str());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(ValueOf(*r, "s", "k"), "1");
    const std::string over = dir.Write("over.ini", std::string(CTabrel::kMaxFileSize + 1, ' '));
    EXPECT_EQ(CTabrel::Open(over.c_str()), nullptr);
    EXPECT_NE(CTabrel::Open(dir.Write("empty.ini", "").c_str()), nullptr);

    if (geteuid() != 0) {  // root reads anything
        const std::string locked = dir.Write("locked.ini", "[s]\nk=1\n");
        chmod(locked.c_str(), 0);
        EXPECT_EQ(CTabrel::Open(locked.c_str()), nullptr);
    }
}

}  // namespace
