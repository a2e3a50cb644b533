#include "common/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8, RoundTripsAsciiChineseAndAstral) {
  const std::string utf8 = "Velmora\xE9\x9F\xB3\xE4\xB9\x90\xE7\x9B\x92 \xF0\x9F\x8E\xB5";  // 音乐盒 + U+1F3B5
  const std::u16string wide = text::Utf8ToUtf16(utf8);
  EXPECT_EQ(wide, u"Velmora音乐盒 \U0001F3B5");
  EXPECT_EQ(wide.size(), 7u + 3u + 1u + 2u);  // the astral character takes two units
  EXPECT_EQ(text::Utf16ToUtf8(wide), utf8);
}

TEST(Utf8, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(text::Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(text::Utf8ToUtf16("\xE9\x9F"), u"\uFFFD");              // truncated sequence at the end
  EXPECT_EQ(text::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");        // overlong form
  EXPECT_EQ(text::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(text::Utf8ToUtf16("\xE9\x9Fx"), u"\uFFFDx");            // bad continuation keeps the next byte
  EXPECT_EQ(text::Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(text::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(text::Utf16ToUtf8(std::u16string{char16_t(0xDC00), u'a'}), "\xEF\xBF\xBD" "a");
}

TEST(Utf8, BomIsStrippedOnce) {
  EXPECT_EQ(text::StripUtf8Bom("\xEF\xBB\xBF<ver>"), "<ver>");
  EXPECT_EQ(text::StripUtf8Bom("\xEF\xBB\xBF\xEF\xBB\xBFx"), "\xEF\xBB\xBFx");
  EXPECT_EQ(text::StripUtf8Bom("\xEF\xBB"), "\xEF\xBB");
}

}  // namespace
