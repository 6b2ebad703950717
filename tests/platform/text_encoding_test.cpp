// Conversions between GBK and UTF-8, and telling UTF-8 apart.
#include <gtest/gtest.h>

#include <string>

#include "platform/text_encoding.h"

namespace {

TEST(EncodingConversion, Utf8Validation) {
    using quarvel::detail::IsValidUtf8;
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ascii"));
    EXPECT_TRUE(IsValidUtf8("图像 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong NUL
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE5\x9B"));          // truncated
    EXPECT_FALSE(IsValidUtf8("\xCD\xBC\xCF\xF1"));  // GBK 图像
}

TEST(EncodingConversion, LongTextsConvertBothWays) {
    std::string utf8;
    for (int i = 0; i < 2000; ++i) {
        utf8 += "图像参数";
    }
    const auto gbk = quarvel::detail::Utf8ToGbk(utf8);
    ASSERT_TRUE(gbk.has_value());
    EXPECT_EQ(gbk->size(), 2000u * 8);
    const auto back = quarvel::detail::GbkToUtf8(*gbk);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, utf8);
    EXPECT_FALSE(quarvel::detail::GbkToUtf8("\x81").has_value());
    EXPECT_FALSE(quarvel::detail::IsValidUtf8("\xE5\x9B\x41"));
}

}  // namespace
