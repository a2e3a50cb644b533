// Built into each program on its own (see timings.h).
#include "client/mainwindow/timings.h"

#include "client/mainwindow/firststartlogic.h"

namespace timings {

#ifdef VELBOX_QUICK_TIMINGS
const unsigned kTimer1IntervalMs = 200;
const std::chrono::milliseconds kNoticeWait{2000};
#else
const unsigned kTimer1IntervalMs = 1000;
const std::chrono::milliseconds kNoticeWait = firststart::kConfirmationWait;
#endif

}  // namespace timings
