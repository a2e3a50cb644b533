// The characters no clean address holds, by their Unicode properties.
#include "client/mainwindow/hiddenchars.h"

#include <gtest/gtest.h>

namespace {

TEST(HiddenChars, FormattingSpacesAndIgnorablesButNotText) {
  for (char32_t c :
       {0x00,   0x1F,   0x7F,   0x85,   0xA0,   0xAD,   0x061C, 0x115F,  0x180E,  0x200B,  0x202E,  0x2028,
        0x2066, 0x3000, 0x3164, 0xFE0F, 0xFEFF, 0xFFA0, 0xFFFF, 0x1D173, 0xE0001, 0xE0041, 0xE007F, 0x10FFFF}) {
    EXPECT_TRUE(hiddenchars::IsHidden(c)) << std::hex << static_cast<unsigned>(c);
  }
  for (char32_t c : {0x20, 0x21, 0x41, 0x7E, 0xA1, 0x0627, 0x4E50, 0xFF0E, 0xFFFD, 0x1F3B5, 0x20000}) {
    EXPECT_FALSE(hiddenchars::IsHidden(c)) << std::hex << static_cast<unsigned>(c);
  }
  EXPECT_TRUE(hiddenchars::HoldsHidden(u"a\U000E0041b"));  // a tag character as a pair
  EXPECT_TRUE(hiddenchars::HoldsHidden(u"a\xDC00"));       // half a pair
  EXPECT_FALSE(hiddenchars::HoldsHidden(u"音乐\U0001F3B5 a"));
}

}  // namespace
