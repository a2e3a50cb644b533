// Where an address may be shown: what the browsers of the client do with a
// navigation, with the address a navigation arrived at, and with a request
// for a new window. No Windows header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace navpolicy {

enum class Verdict {
  kStay,            // the browser goes on to (or stays at) the address
  kDefaultBrowser,  // cancelled here, opened in the user's default browser
  kRefuse,          // cancelled, opened nowhere
};

// Longer addresses are refused: the engine itself takes no more, and no
// such text goes to the shell.
inline constexpr std::size_t kMaxAddress = 2083;

// The addresses a browser of the client keeps to.
class Site {
 public:
  // The music site: the host of `home` ("http://host[:port]") and the
  // further hosts of `moreHosts` ("host[:port]", separated by spaces), each
  // over http or https, on the scheme's own port or the one written; host
  // letter case aside. Web addresses elsewhere go to the default browser.
  static Site Hosts(std::u16string_view home, std::u16string_view moreHosts);
  // Exactly `address` and nothing else; nothing is handed to anyone (the
  // hidden statistics browser).
  static Site OneAddress(std::u16string_view address);

  bool Holds(std::u16string_view address) const;
  // Whether web addresses off the site go to the default browser.
  bool HandsOn() const { return handsOn_; }

 private:
  struct Host {
    std::u16string name;  // ASCII letters in lower case
    unsigned port = 0;    // the one written; 0 when none
  };
  std::vector<Host> hosts_;
  std::u16string address_;
  bool handsOn_ = true;
};

enum class Kind {
  kTopLevel,  // the window is asked to go there: a link, a script, a form, a refresh
  kFrame,     // a frame inside the page is asked to go there
  kArrived,   // the window's address once a navigation showed a page (a redirect may have moved it)
};

struct Navigation {
  std::u16string_view address;
  Kind kind = Kind::kTopLevel;
  bool post = false;              // a form's data goes with it
  std::u16string_view shown = {};  // the window's address now: a javascript: address runs in that document
};

// Stay: "about:blank", the site's addresses, frames (they load what the
// site wants), and a "javascript:" address asked of the window while it
// shows a page of the site. Another plain http or https address goes to the
// default browser, unless a form posts to it (the default browser could not
// make that request) or the site hands nothing on. Everything else is
// refused: other schemes (file, res, mk, ms-its, shell, vbscript, ...), bare
// paths, addresses with user information ("http://music.host@evil/"), a
// backslash, percent signs or other odd characters in the host, controls
// anywhere, hidden characters (hiddenchars.h) anywhere but in the path,
// query and fragment of the site's own addresses, ports beyond 65535, and
// overlong addresses. Spaces are percent-encoded first (Encoded).
Verdict ForNavigation(const Navigation& navigation, const Site& site);

// A request for a new window never opens one inside the client: a plain
// http or https address goes to the default browser where the site hands
// addresses on, anything else is refused.
Verdict ForNewWindow(std::u16string_view address, const Site& site);

// `address` with each space percent-encoded ("%20"): the form that is
// judged and handed on.
std::u16string Encoded(std::u16string_view address);

// "javascript:" in any letter case: runs in a document, shows none.
bool IsScriptAddress(std::u16string_view address);

// A plain http or https address as ForNavigation reads them, clean of
// hidden characters and spaces: what the default browser may be given.
bool IsWebAddress(std::u16string_view address);

}  // namespace navpolicy
