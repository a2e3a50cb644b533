#include "client/mainwindow/firststartlogic.h"

namespace firststart {

bool IsStatisticsAnswer(bool topLevel, std::u16string_view url, std::u16string_view statisticsAddress) {
  return topLevel && url == statisticsAddress;
}

bool ConfirmsCount(std::u16string_view bodyText) { return bodyText.find(u"OK") != std::u16string_view::npos; }

std::chrono::milliseconds RemainingWait(std::chrono::steady_clock::time_point start,
                                        std::chrono::steady_clock::time_point now, std::chrono::milliseconds limit) {
  if (limit <= std::chrono::milliseconds::zero()) return std::chrono::milliseconds::zero();
  if (now <= start) return limit;
  const auto elapsed = now - start;
  if (elapsed >= limit) return std::chrono::milliseconds::zero();
  // Whole milliseconds of what is left, rounded down.
  return std::chrono::duration_cast<std::chrono::milliseconds>(limit - elapsed);
}

std::int16_t CountTick(std::int16_t nTick) {
  if (nTick >= kUpdaterTick) return kUpdaterTick;
  return static_cast<std::int16_t>(nTick + 1);
}

bool ShouldStartUpdater(std::int16_t nTick, bool updaterFileExists, bool alreadyStarted) {
  return !alreadyStarted && updaterFileExists && nTick >= kUpdaterTick;
}

}  // namespace firststart
