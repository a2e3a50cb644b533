// The updater's window (filled in by the updater's own work).
#pragma once

namespace updater {
int Run();
}
