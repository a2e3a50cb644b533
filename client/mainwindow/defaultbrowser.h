// Hands an address to the user's default browser, as a link clicked in any
// desktop program does.
#pragma once

#include <string>

namespace defaultbrowser {

// Only a plain http or https address (navpolicy::IsWebAddress: spaces
// already percent-encoded, nothing hidden) that the shell takes literally:
// ShellExecuteW expands environment strings, so an address that
// ExpandEnvironmentStringsW would change is refused. True when it was
// handed on.
bool Open(const std::wstring& address);

}  // namespace defaultbrowser
