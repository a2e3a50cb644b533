// Confirmation of the first-start notice, the wait's deadline, and the
// timer's count towards the updater start.
#include "client/mainwindow/firststartlogic.h"

#include <gtest/gtest.h>

namespace firststart {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr std::u16string_view kAddress = u"http://127.0.0.1:8083/count/?all";

TEST(StatisticsAnswer, OnlyTheTopLevelDocumentAtExactlyTheAddressAnswers) {
  EXPECT_TRUE(IsStatisticsAnswer(true, kAddress, kAddress));
  // A frame of the page, even at the same address.
  EXPECT_FALSE(IsStatisticsAnswer(false, kAddress, kAddress));
  // Letter case, a trailing slash, another query, a redirect elsewhere.
  EXPECT_FALSE(IsStatisticsAnswer(true, u"http://127.0.0.1:8083/COUNT/?all", kAddress));
  EXPECT_FALSE(IsStatisticsAnswer(true, u"http://127.0.0.1:8083/count/?all/", kAddress));
  EXPECT_FALSE(IsStatisticsAnswer(true, u"http://127.0.0.1:8083/count/?allx", kAddress));
  EXPECT_FALSE(IsStatisticsAnswer(true, u"http://127.0.0.1:8083/count/", kAddress));
  EXPECT_FALSE(IsStatisticsAnswer(true, u"http://127.0.0.1:8083/login?next=/count/?all", kAddress));
  EXPECT_FALSE(IsStatisticsAnswer(true, u"", kAddress));
}

TEST(StatisticsAnswer, CapitalOkAnywhereInTheBodyConfirms) {
  EXPECT_TRUE(ConfirmsCount(u"OK"));
  EXPECT_TRUE(ConfirmsCount(u"counted: OK\r\n"));
  EXPECT_TRUE(ConfirmsCount(u"BROKEN"));  // inside a word as well
  EXPECT_TRUE(ConfirmsCount(u"统计OK了"));
  EXPECT_FALSE(ConfirmsCount(u"ok"));
  EXPECT_FALSE(ConfirmsCount(u"Ok oK"));
  EXPECT_FALSE(ConfirmsCount(u"O K"));
  EXPECT_FALSE(ConfirmsCount(u"O"));
  EXPECT_FALSE(ConfirmsCount(u""));
  // Full-width letters are other characters.
  EXPECT_FALSE(ConfirmsCount(u"\uFF2F\uFF2B"));
}

TEST(ConfirmationWait, RemainingTimeShrinksToZeroAndNeverExceedsTheLimit) {
  const steady_clock::time_point t0{std::chrono::seconds(1000)};
  EXPECT_EQ(RemainingWait(t0, t0, kConfirmationWait), milliseconds(10000));
  EXPECT_EQ(RemainingWait(t0, t0 + milliseconds(1), kConfirmationWait), milliseconds(9999));
  EXPECT_EQ(RemainingWait(t0, t0 + milliseconds(9999), kConfirmationWait), milliseconds(1));
  EXPECT_EQ(RemainingWait(t0, t0 + milliseconds(10000), kConfirmationWait), milliseconds(0));
  EXPECT_EQ(RemainingWait(t0, t0 + std::chrono::hours(5), kConfirmationWait), milliseconds(0));
  // Part of a millisecond left is rounded down: the wait ends by its limit.
  EXPECT_EQ(RemainingWait(t0, t0 + std::chrono::microseconds(9999500), kConfirmationWait), milliseconds(0));
  EXPECT_EQ(RemainingWait(t0, t0 + std::chrono::microseconds(1500), kConfirmationWait), milliseconds(9998));
  // A clock that reads earlier than the start has not let time pass.
  EXPECT_EQ(RemainingWait(t0, t0 - std::chrono::seconds(3), kConfirmationWait), milliseconds(10000));
  EXPECT_EQ(RemainingWait(t0, t0, milliseconds(0)), milliseconds(0));
  EXPECT_EQ(RemainingWait(t0, t0, milliseconds(-5)), milliseconds(0));
}

TEST(UpdaterTimer, CountsToFifteenAndStaysThere) {
  std::int16_t n = 0;
  for (int i = 1; i <= 14; ++i) {
    n = CountTick(n);
    EXPECT_EQ(n, i);
  }
  n = CountTick(n);
  EXPECT_EQ(n, kUpdaterTick);
  // Nine hours and more of ticks without the updater file.
  for (int i = 0; i < 40000; ++i) n = CountTick(n);
  EXPECT_EQ(n, kUpdaterTick);
  EXPECT_EQ(CountTick(32767), kUpdaterTick);
}

TEST(UpdaterTimer, StartsFromTheFifteenthTickWhenTheFileIsThereAndOnlyOnce) {
  EXPECT_FALSE(ShouldStartUpdater(14, true, false));
  EXPECT_TRUE(ShouldStartUpdater(15, true, false));
  EXPECT_FALSE(ShouldStartUpdater(15, false, false));
  EXPECT_FALSE(ShouldStartUpdater(15, true, true));
  EXPECT_FALSE(ShouldStartUpdater(0, true, false));
}

}  // namespace
}  // namespace firststart
