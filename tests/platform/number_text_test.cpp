// Parameter values' text, read independently of the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include <cstdio>
#include <string>

#include "platform/number_text.h"
#include "platform/tabrel.h"

namespace {

using quarvel::detail::CTabrel;
using quarvel::detail::ParseFloat;
using quarvel::detail::ParseInt32;

TEST(ValueParsing, Integers) {
    EXPECT_EQ(ParseInt32("640"), 640);
    EXPECT_EQ(ParseInt32("+5"), 5);
    EXPECT_EQ(ParseInt32("-12"), -12);
    EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
    EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
    for (const char* bad : {"", "+", "-", "2147483648", "-2147483649", "1.0", "0x10", "5abc", " 5", "++5", "+-5", "1e3"}) {
        EXPECT_FALSE(ParseInt32(bad).has_value()) << bad;
    }
}

TEST(ValueParsing, Floats) {
    EXPECT_EQ(ParseFloat("1.5"), 1.5f);
    EXPECT_EQ(ParseFloat("+2"), 2.0f);
    EXPECT_EQ(ParseFloat("-.25"), -0.25f);
    EXPECT_EQ(ParseFloat("3e-2"), 3e-2f);
    EXPECT_EQ(ParseFloat("1E3"), 1000.0f);
    EXPECT_EQ(ParseFloat("0.1"), 0.1f);  // correctly rounded to float
    EXPECT_EQ(ParseFloat("3.4028234e38"), 3.4028234e38f);
    for (const char* bad : {"", "+", ".", "nan", "inf", "-inf", "infinity", "1e39", "-1e39", "0x10", "5abc", "1,5",
                            " 5", "1.5.", "e5", "+-1", "--1"}) {
        EXPECT_FALSE(ParseFloat(bad).has_value()) << bad;
    }
}

TEST(ValueParsing, IndependentOfTheProcessLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "de_DE.UTF-8 is not generated on this machine";
    }
    // Sanity: the C library now writes a decimal comma.
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    EXPECT_STREQ(text, "1,5");
    EXPECT_EQ(ParseFloat("1.5"), 1.5f);
    EXPECT_FALSE(ParseFloat("1,5").has_value());
    const CTabrel r("[s]\nk=0.75\n");
    float v = 0.0f;
    EXPECT_TRUE(r.GetFloat("s", "k", v));
    EXPECT_EQ(v, 0.75f);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
