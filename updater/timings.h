// How long the updater waits. The program has them as they are meant to
// be; its quick build for the end-to-end tests (build/windows/quick/
// velUpdate.exe) shortens them, so that a test of a silent or trickling
// server does not spend real minutes. Defined once per program, in
// timings.cpp.
#pragma once

namespace updatetimings {

extern const unsigned kHttpWaitMs;      // one attempt of a manifest fetch (5 s)
extern const unsigned kStallLimitMs;    // a download that receives nothing (60 s)
extern const unsigned kDeadlineBaseMs;  // a whole download: this plus its size at 64 KiB/s (60 s)

}  // namespace updatetimings
