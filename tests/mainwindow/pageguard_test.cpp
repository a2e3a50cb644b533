// A window that ends up off its site, fed the sequences of a browser's
// navigations: it goes back once, hands the address on once, and never
// circles.
#include "client/mainwindow/pageguard.h"

#include <gtest/gtest.h>

#include <string>

namespace pageguard {
namespace {

using navpolicy::Site;

constexpr char16_t kHome[] = u"http://127.0.0.1:18082";
constexpr char16_t kList[] = u"http://127.0.0.1:18082/list";
constexpr char16_t kElsewhere[] = u"http://127.0.0.1:18081/landing?from=home";

// "leave", the hand-off, where the window goes, "blank"; "-" for nothing.
std::string Show(const Step& s) {
  std::string out = s.leave ? "leave" : "stay";
  for (const std::u16string* part : {&s.handOff, &s.go}) {
    out += part->empty() ? " -" : " ";
    for (char16_t c : *part) out += static_cast<char>(c);
  }
  return out + (s.blank ? " blank" : "");
}

class PageGuardTest : public ::testing::Test {
 protected:
  // Began, then the first reading of the window's address.
  std::string Navigation(Origin origin, std::u16string_view location) {
    guard.Began(origin);
    return Show(guard.Shown(location));
  }
  Guard guard{Site::Hosts(kHome, u"")};
};

TEST_F(PageGuardTest, PagesOfTheSiteStayAndEarlyReadingsChangeNothing) {
  EXPECT_EQ(Show(guard.Shown(u"")), "stay - -");
  EXPECT_EQ(Navigation(Origin::kClient, kHome), "stay - -");
  EXPECT_EQ(Navigation(Origin::kPage, u"https://127.0.0.1:18082/login"), "stay - -");
  EXPECT_EQ(Navigation(Origin::kReturn, u"about:blank"), "stay - -");
}

TEST_F(PageGuardTest, TheClientsOwnAddressLeadingOffTheSiteEndsOnTheBlankPage) {
  EXPECT_EQ(Navigation(Origin::kClient, kElsewhere),
            "leave http://127.0.0.1:18081/landing?from=home about:blank blank");
  // The same navigation's later events (DownloadComplete after NavigateError).
  EXPECT_TRUE(guard.Leaving());
  EXPECT_EQ(Show(guard.Shown(kElsewhere)), "stay - -");
  EXPECT_EQ(Navigation(Origin::kReturn, u"about:blank"), "stay - -");
  // The tray's address tries again, and leads off again: once more blank.
  EXPECT_EQ(Navigation(Origin::kClient, kElsewhere),
            "leave http://127.0.0.1:18081/landing?from=home about:blank blank");
}

TEST_F(PageGuardTest, APageLeadingOffTheSiteGoesBackToTheLastPageOfTheSite) {
  ASSERT_EQ(Navigation(Origin::kClient, kHome), "stay - -");
  ASSERT_EQ(Navigation(Origin::kPage, kList), "stay - -");
  // A form posted to the site, answered with a redirect elsewhere.
  EXPECT_EQ(Navigation(Origin::kPage, u"http://evil.example/a b"),
            "leave http://evil.example/a%20b http://127.0.0.1:18082/list");
  EXPECT_EQ(Navigation(Origin::kReturn, kList), "stay - -");
  // A reload raises no BeforeNavigate2: the reading alone tells.
  ASSERT_EQ(Navigation(Origin::kPage, kHome), "stay - -");
  EXPECT_EQ(Show(guard.Shown(u"file:///C:/x.html")), "leave - http://127.0.0.1:18082");
}

TEST_F(PageGuardTest, AWayBackThatLeavesTooEndsOnTheBlankPageHandingNothingOn) {
  ASSERT_EQ(Navigation(Origin::kClient, kHome), "stay - -");
  ASSERT_EQ(Navigation(Origin::kPage, kElsewhere),
            "leave http://127.0.0.1:18081/landing?from=home http://127.0.0.1:18082");
  EXPECT_EQ(Navigation(Origin::kReturn, u"http://evil.example/"), "leave - about:blank blank");
}

TEST_F(PageGuardTest, APageSentBackThatSendsTheWindowAwayAgainIsNotFollowedTwice) {
  ASSERT_EQ(Navigation(Origin::kClient, kHome), "stay - -");
  ASSERT_EQ(Navigation(Origin::kPage, kElsewhere),
            "leave http://127.0.0.1:18081/landing?from=home http://127.0.0.1:18082");
  ASSERT_EQ(Navigation(Origin::kReturn, kHome), "stay - -");
  // Its refresh to the same redirect.
  EXPECT_EQ(Navigation(Origin::kPage, kElsewhere), "leave - about:blank blank");
  // Elsewhere after some other page is a new hand-off.
  ASSERT_EQ(Navigation(Origin::kClient, kHome), "stay - -");
  ASSERT_EQ(Navigation(Origin::kPage, kList), "stay - -");
  EXPECT_EQ(Navigation(Origin::kPage, kElsewhere),
            "leave http://127.0.0.1:18081/landing?from=home http://127.0.0.1:18082/list");
}

TEST(PageGuard, TheStatisticsBrowserLeavesSilently) {
  Guard guard(Site::OneAddress(u"http://127.0.0.1:18083/count/?all"));
  guard.Began(Origin::kClient);
  EXPECT_EQ(Show(guard.Shown(u"http://127.0.0.1:18083/count/?all")), "stay - -");
  guard.Began(Origin::kPage);
  EXPECT_EQ(Show(guard.Shown(u"http://evil.example/")), "leave - about:blank blank");
}

}  // namespace
}  // namespace pageguard
