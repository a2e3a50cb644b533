// Packed bitmaps from the resources, decoded for alpha blending.
#include "client/mainwindow/dibdecode.h"

#include <gtest/gtest.h>

#include <string>

namespace skin {
namespace {

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}

std::string Header(int w, int h, int bits) {
  std::string s;
  Put32(s, 40);
  Put32(s, static_cast<uint32_t>(w));
  Put32(s, static_cast<uint32_t>(h));
  Put16(s, 1);
  Put16(s, static_cast<uint16_t>(bits));
  for (int i = 0; i < 6; ++i) Put32(s, 0);
  return s;
}

TEST(DibDecode, BottomUp24BitRowsArePaddedAndFlipped) {
  // 3 x 2: bottom row first, rows padded from 9 to 12 bytes.
  std::string b = Header(3, 2, 24);
  b += std::string("\x01\x02\x03" "\x04\x05\x06" "\x07\x08\x09" "\0\0\0", 12);  // bottom row
  b += std::string("\x10\x20\x30" "\x40\x50\x60" "\x70\x80\x90" "\0\0\0", 12);  // top row
  auto p = DecodePackedDib(b);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 3);
  EXPECT_EQ(p->height, 2);
  EXPECT_EQ(p->argb[0], 0xFF302010u);
  EXPECT_EQ(p->argb[2], 0xFF908070u);
  EXPECT_EQ(p->argb[3], 0xFF030201u);
  EXPECT_EQ(p->argb[5], 0xFF090807u);
}

TEST(DibDecode, ThirtyTwoBitAlphaIsPremultipliedOrOpaqueWhenAllZero) {
  std::string b = Header(2, -1, 32);  // top-down
  b += std::string("\xFF\xFF\xFF\x80" "\x00\x00\xFF\x00", 8);
  auto p = DecodePackedDib(b);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->argb[0], 0x80808080u);
  EXPECT_EQ(p->argb[1], 0x00000000u);

  std::string o = Header(1, 1, 32);
  o += std::string("\x10\x20\x30\x00", 4);
  auto q = DecodePackedDib(o);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->argb[0], 0xFF302010u);
}

TEST(DibDecode, RejectsWhatItCannotDraw) {
  EXPECT_FALSE(DecodePackedDib(""));
  EXPECT_FALSE(DecodePackedDib(Header(2, 2, 24)));                          // no pixels
  EXPECT_FALSE(DecodePackedDib(Header(2, 2, 24) + std::string(15, '\0')));  // one byte short
  EXPECT_TRUE(DecodePackedDib(Header(2, 2, 24) + std::string(16, '\0')));
  EXPECT_FALSE(DecodePackedDib(Header(2, 2, 8) + std::string(64, '\0')));
  EXPECT_FALSE(DecodePackedDib(Header(0, 2, 24)));
  EXPECT_FALSE(DecodePackedDib(Header(100000, 1, 24)));
}

}  // namespace
}  // namespace skin
