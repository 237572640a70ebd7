#include <FixMath.h>
#include <Gestalt.h>
#include <MacErrors.h>
#include <TextUtils.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/pstring.h"

TEST(Strings, NumbersKeepTheirSignAndPascalStringsTruncateAt255) {
  Str255 s;
  for (long n : {-2093L, 0L, LONG_MIN}) {
    NumToString(n, s);
    EXPECT_EQ(vt::fromPascal(s), std::to_string(n));
    long back = 0;
    StringToNum(s, &back);
    EXPECT_EQ(back, n);
  }
  CopyCStringToPascal(std::string(300, 'x').c_str(), s);
  EXPECT_EQ(s[0], 255);
  char c[256];
  CopyPascalStringToC(s, c);
  EXPECT_EQ(std::string(c), std::string(255, 'x'));
  CopyCStringToPascal("", s);
  EXPECT_EQ(s[0], 0);
}

TEST(FixMath, RatiosAndProducts) {
  EXPECT_EQ(FixRatio(1, 2), 0x8000);
  EXPECT_EQ(FixMul(IntToFixed(3), IntToFixed(4)), IntToFixed(12));
  EXPECT_EQ(FixDiv(IntToFixed(1), 0), 0x7FFFFFFF);
  EXPECT_EQ(FixRound(0x18000), 2);
}

TEST(Gestalt, DefaultsAndOverrides) {
  SInt32 v = 0;
  ASSERT_EQ(Gestalt(gestaltSystemVersion, &v), noErr);
  EXPECT_GT(v, 0x09FF);  // a 10.x system
  ASSERT_EQ(Gestalt(gestaltQuickTime, &v), noErr);
  EXPECT_GT((v >> 16) & 0xFFFF, 0x02FF);  // video effects available
  ASSERT_EQ(Gestalt(gestaltAppleEventsAttr, &v), noErr);
  EXPECT_TRUE(v & 1);
  EXPECT_NE(Gestalt('zzzz', &v), noErr);
  VTSetGestaltAnswer(gestaltQuickTime, -1, 0);
  EXPECT_EQ(Gestalt(gestaltQuickTime, &v), -1);
  VTResetGestaltAnswers();
  EXPECT_EQ(Gestalt(gestaltQuickTime, &v), noErr);
}
