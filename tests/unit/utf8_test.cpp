#include "common/utf8.hpp"

#include <gtest/gtest.h>

using namespace murmela;

TEST(Utf8, ValidityFollowsTheStandard) {
  EXPECT_TRUE(is_valid_utf8("plain"));
  EXPECT_TRUE(is_valid_utf8("K\xC3\xA4se \xF0\x9F\x8E\x99"));
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xE2\x82"));          // cut short
}

TEST(Utf8, LossyReplacesEachMaximalInvalidPart) {
  EXPECT_EQ(lossy_utf8("a\xFF"
                       "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(lossy_utf8("\xE2\x82"
                       "x"),
            "\xEF\xBF\xBD"
            "x");
  EXPECT_EQ(lossy_utf8("\xF0\x9F\x8E"), "\xEF\xBF\xBD");
  EXPECT_EQ(lossy_utf8("/usr/bin/ok"), "/usr/bin/ok");
}

TEST(Utf8, CountsAndCutsByCodePoint) {
  EXPECT_EQ(code_point_count("K\xC3\xA4se!"), 5u);
  EXPECT_EQ(first_code_points("\xC3\xA4\xC3\xB6\xC3\xBC", 2), "\xC3\xA4\xC3\xB6");
  EXPECT_EQ(first_code_points("ab", 5), "ab");
}
