// What test builds (client_tests, the quick client) read of the browser
// host; compiled only into them (browserhost_testing.cpp).
#pragma once

#include <functional>
#include <string>

namespace browserhost_testing {

// Site and sink objects of all hosts still alive in the process; zero once
// every host is destroyed and the controls let go of them.
long LiveObjects();
// Key messages handed to the controls so far, in the process.
long KeysOffered();
// Where addresses for the default browser go, after every check the shell
// would have them pass; the shell again for nullptr.
void SetShellOpener(std::function<void(const std::wstring&)> opener);

}  // namespace browserhost_testing
