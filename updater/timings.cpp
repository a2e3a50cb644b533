// Built into each program on its own (see timings.h).
#include "updater/timings.h"

namespace updatetimings {

#ifdef VELBOX_QUICK_TIMINGS
const unsigned kHttpWaitMs = 1000;
const unsigned kStallLimitMs = 3000;
const unsigned kDeadlineBaseMs = 3000;
#else
const unsigned kHttpWaitMs = 5000;
const unsigned kStallLimitMs = 60000;
const unsigned kDeadlineBaseMs = 60000;
#endif

}  // namespace updatetimings
