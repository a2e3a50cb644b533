// Decisions of the first-start notice and of the delayed updater start:
// which document confirms the notice, how long the wait may still last,
// how the timer counts and when it starts the updater. No Windows header.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace firststart {

// ---------------------------------------------------------------------------
// Confirmation of the notice

// The completed document is the answer of the statistics page: the hidden
// browser's own top-level document (not a frame) at exactly the address it
// was sent to (letter case counts; a redirect elsewhere does not answer).
bool IsStatisticsAnswer(bool topLevel, std::u16string_view url, std::u16string_view statisticsAddress);

// The page's body text confirms the count when it holds "OK" anywhere, in
// capitals.
bool ConfirmsCount(std::u16string_view bodyText);

// ---------------------------------------------------------------------------
// Wait for the confirmation

inline constexpr std::chrono::milliseconds kConfirmationWait{10000};

// Time still to wait when the wait began at `start` and may last `limit`;
// zero once the limit has passed. Rounded down to whole milliseconds, so
// the wait never outlasts its limit. A clock reading before `start` counts
// as no time passed.
std::chrono::milliseconds RemainingWait(std::chrono::steady_clock::time_point start,
                                        std::chrono::steady_clock::time_point now, std::chrono::milliseconds limit);

// ---------------------------------------------------------------------------
// Updater start by the one-second timer

// The tick at which the updater is due, about 15 s after the window loaded.
inline constexpr std::int16_t kUpdaterTick = 15;

// nTick after one more tick. The count stops at kUpdaterTick: from there on
// only the updater file decides, and the 16-bit counter can never overflow
// however long the client runs without the file.
std::int16_t CountTick(std::int16_t nTick);

// Whether this tick starts the updater: the count has reached kUpdaterTick,
// the file is there as a normal file, and it has not been started in this
// run yet.
bool ShouldStartUpdater(std::int16_t nTick, bool updaterFileExists, bool alreadyStarted);

}  // namespace firststart
