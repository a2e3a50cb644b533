#include "common/setaside.h"

#include <gtest/gtest.h>

namespace {

using setaside::AsideToRestore;
using setaside::IsAsideOf;

TEST(SetAside, OnlyTheInstallersOwnPatternCounts) {
  EXPECT_TRUE(IsAsideOf(u"velBox.exe.376-1009653.old", u"velBox.exe"));
  EXPECT_TRUE(IsAsideOf(u"VELBOX.EXE.1-2.OLD", u"velBox.exe"));
  for (const char16_t* other : {u"velBox.exe", u"velBox.exe.old", u"velBox.exe.376.old", u"velBox.exe.376-.old",
                                u"velBox.exe.-5.old", u"velBox.exe.376-5.tmp", u"velBox.exe.376-5.old.exe",
                                u"velBox.exe.3x6-5.old", u"velUpdate.exe.1-2.old", u"xvelBox.exe.1-2.old",
                                u"velBox.exe.1-99999999999.old", u"velBox.exe 1-2.old"})
    EXPECT_FALSE(IsAsideOf(other, u"velBox.exe")) << std::string(other, other + std::char_traits<char16_t>::length(other));
}

TEST(SetAside, TheNameComesBackOnlyWhenItIsMissing) {
  EXPECT_EQ(AsideToRestore(u"velBox.exe", {u"velBox.exe.10-5.old", u"Icon.ico"}), u"velBox.exe.10-5.old");
  // Present in any case of letters: nothing to do.
  EXPECT_EQ(AsideToRestore(u"velBox.exe", {u"velBox.exe.10-5.old", u"VELBOX.EXE"}), std::nullopt);
  EXPECT_EQ(AsideToRestore(u"velBox.exe", {u"velBox.exe.7-1.tmp", u"cfg.xml"}), std::nullopt);
  EXPECT_EQ(AsideToRestore(u"velBox.exe", {}), std::nullopt);
  // The one moved aside last, whatever the order of the listing.
  EXPECT_EQ(AsideToRestore(u"velBox.exe", {u"velBox.exe.9-300.old", u"velBox.exe.12-4000.old", u"velBox.exe.3-20.old"}),
            u"velBox.exe.12-4000.old");
  // Moved aside by an uninstall: the product is gone and stays gone.
  EXPECT_EQ(AsideToRestore(u"velBox.exe", {u"velBox.exe.0-900.old"}), std::nullopt);
  EXPECT_EQ(AsideToRestore(u"velBox.exe", {u"velBox.exe.0-900.old", u"velBox.exe.5-20.old"}), u"velBox.exe.5-20.old");
}

}  // namespace
