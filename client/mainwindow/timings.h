// How long the main window's background duties wait. The program has them
// as they are meant to be; the quick build of the program that the
// end-to-end tests use (build/windows/quick/velBox.exe) shortens them, so
// that most tests do not spend real minutes waiting. Defined once per
// program, in timings.cpp.
#pragma once

#include <chrono>

namespace timings {

// Interval of Timer1: the updater starts at its 15th tick (1000 ms).
extern const unsigned kTimer1IntervalMs;
// How long the first-start notice waits for its confirmation (10 s).
extern const std::chrono::milliseconds kNoticeWait;

}  // namespace timings
