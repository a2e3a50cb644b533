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

TEST(InAppFolder, OneSeparatorBetweenFolderAndFileAlsoAtADriveRoot) {
  for (const char16_t* literal : {product::kConfigFile, product::kIconFile, product::kUpdaterFile}) {
    const std::u16string name = std::u16string(literal).substr(1);
    EXPECT_EQ(product::InAppFolder(u"C:\\Program Files\\Velmora", literal), u"C:\\Program Files\\Velmora\\" + name);
    EXPECT_EQ(product::InAppFolder(u"C:\\", literal), u"C:\\" + name);
    EXPECT_EQ(product::InAppFolder(u"\\\\server\\share\\", literal), u"\\\\server\\share\\" + name);
  }
  EXPECT_EQ(product::InAppFolder(u"D:\\", product::kDownloadFolder), u"D:\\DownTmp\\");
  EXPECT_EQ(product::InAppFolder(u"D:\\app", product::kDownloadFolder), u"D:\\app\\DownTmp\\");
  // Only the folder's own separator is dropped, never a character of the name.
  EXPECT_EQ(product::InAppFolder(u"", product::kConfigFile), u"\\cfg.xml");
}

}  // namespace
