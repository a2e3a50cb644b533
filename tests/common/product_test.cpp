#include "common/product.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionText, PlainDecimalWithEveryPart) {
  EXPECT_EQ(product::VersionText(1, 0, 0), u"1.0.0");
  EXPECT_EQ(product::VersionText(2, 10, 3), u"2.10.3");
  EXPECT_EQ(product::VersionText(65535, 0, 65535), u"65535.0.65535");
}

TEST(Addresses, HaveSchemeAndNoTrailingSlash) {
  EXPECT_EQ(product::MusicHome(), std::u16string(u"http://") + buildinfo::kMusicHost);
  EXPECT_EQ(product::MusicNoAutoplay(), product::MusicHome() + u"/?autoplay=0");
  EXPECT_EQ(product::StatisticsAddress(), std::u16string(u"http://") + buildinfo::kUpdateHost + u"/count/?all");
  EXPECT_EQ(product::ManifestAddress(), std::u16string(u"http://") + buildinfo::kUpdateHost + u"/box/update.xml");
  EXPECT_NE(product::WebHome().back(), u'/');
}

}  // namespace
