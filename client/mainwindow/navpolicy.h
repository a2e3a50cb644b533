// Where an address may be shown: what the browsers of the client do with a
// top-level navigation and with a request for a new window. No Windows
// header.
#pragma once

#include <cstddef>
#include <string_view>

namespace navpolicy {

enum class Verdict {
  kStay,            // the browser goes on to the address
  kDefaultBrowser,  // cancelled here, opened in the user's default browser
  kRefuse,          // cancelled, opened nowhere
};

// Longer addresses are refused: the engine itself takes no more, and no
// such text goes to the shell.
inline constexpr std::size_t kMaxAddress = 2083;

// A top-level navigation. Only "about:blank" and the music site itself
// (`home`, the address the client was built with: same scheme, host and
// port, letter case aside) stay. Another plain http or https address goes
// to the default browser. Everything else is refused: other schemes
// (file, javascript, res, mk, ms-its, shell, ...), bare paths, addresses
// with user information ("http://music.host@evil/"), a backslash, percent
// signs or other odd characters in the host, control and formatting
// characters anywhere, ports beyond 65535, and overlong addresses.
Verdict ForNavigation(std::u16string_view address, std::u16string_view home);

// A request for a new window never opens one inside the client: a plain
// http or https address goes to the default browser, anything else is
// refused.
Verdict ForNewWindow(std::u16string_view address);

}  // namespace navpolicy
