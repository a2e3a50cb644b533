// Keeps a browser's window on its site whatever brought a page there: a
// server redirect, a refresh, a script or a form raise no event that could
// be cancelled at the new address, so the address the window shows is read
// again once a navigation has shown a page, and a page off the site is left
// at once. No Windows header.
#pragma once

#include <string>
#include <string_view>

#include "client/mainwindow/navpolicy.h"

namespace pageguard {

// Who started a top-level navigation.
enum class Origin {
  kPage,    // the page, or the user in it
  kClient,  // the client's own address (the first one, the tray's)
  kReturn,  // the guard, going back
};

// What the host does when the window left the site.
struct Step {
  bool leave = false;      // stop the browser and navigate to `go`
  std::u16string handOff;  // to the default browser, when not empty
  std::u16string go;       // where the window goes instead
  bool blank = false;      // `go` is "about:blank" because there was nothing to go back to
};

class Guard {
 public:
  explicit Guard(navpolicy::Site site) : site_(std::move(site)) {}

  // A top-level navigation the policy let go on.
  void Began(Origin origin);

  // The window's address at a navigation's events that show a page
  // (NavigateComplete2, DocumentComplete, DownloadComplete, NavigateError).
  // Off the site the window goes back to the last page of the site it
  // showed (or "about:blank" where it showed one), the address going to the
  // default browser; a site that hands nothing on goes to "about:blank". Only the first
  // reading of a navigation acts; the later ones of the same navigation
  // find `Leaving()` set until the way back begins. The window shows
  // "about:blank" instead when the client's own address left the site, when
  // the way back left it too, and when a page the window was sent back to
  // sends it to the address just handed on again (a refresh or a script
  // that would do so for ever); nothing is handed on then.
  Step Shown(std::u16string_view location);

  bool Leaving() const { return leaving_; }
  const navpolicy::Site& site() const { return site_; }

 private:
  navpolicy::Site site_;
  Origin origin_ = Origin::kPage;
  Origin previous_ = Origin::kPage;
  bool leaving_ = false;
  std::u16string lastShown_;  // the last page of the site, or "about:blank", the window showed
  std::u16string handedOn_;   // the last address handed to the default browser from here
};

}  // namespace pageguard
