#include "client/mainwindow/enginerestrictions.h"

#include <mshtmhst.h>
#include <mshtmdid.h>
#include <urlmon.h>

namespace enginerestrictions {

namespace {

// None of these keeps a control the site lists from running: ActiveX is
// decided per page by the security manager, and these only stop installs,
// prompts and the other zones.
constexpr INTERNETFEATURELIST kHardening[] = {
    FEATURE_ZONE_ELEVATION,                  // no way from an Internet page into a more trusted zone
    FEATURE_LOCALMACHINE_LOCKDOWN,           // content of the local machine zone runs no script
    FEATURE_DISABLE_MK_PROTOCOL,             // no mk: addresses
    FEATURE_WINDOW_RESTRICTIONS,             // script windows stay on the screen with title and status
    FEATURE_WEBOC_POPUPMANAGEMENT,           // unrequested pop-ups blocked
    FEATURE_RESTRICT_ACTIVEXINSTALL,         // no prompt to install an ActiveX control
    FEATURE_RESTRICT_FILEDOWNLOAD,           // no download prompt the user did not ask for
    FEATURE_MIME_HANDLING,                   // content not handled as a type it was not sent as
    FEATURE_MIME_SNIFFING,                   // a file's type not guessed up into a more dangerous one
    FEATURE_SAFE_BINDTOOBJECT,               // objects bound by address only when safe for the page
    FEATURE_HTTP_USERNAME_PASSWORD_DISABLE,  // no user name and password in http addresses
    FEATURE_VALIDATE_NAVIGATE_URL,           // malformed addresses not followed
};

}  // namespace

void HardenEngine() {
  static const bool done = [] {
    for (INTERNETFEATURELIST f : kHardening) ::CoInternetSetFeatureEnabled(f, SET_FEATURE_ON_PROCESS, TRUE);
    return true;
  }();
  (void)done;
}

LONG DownloadControl() {
  return DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_JAVA;
}

bool IsKeptFromEngine(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  const bool ctrl = ::GetKeyState(VK_CONTROL) < 0, alt = ::GetKeyState(VK_MENU) < 0;
  if (!ctrl || alt) return false;
  return msg.wParam == 'N' || msg.wParam == 'O' || msg.wParam == 'L';
}

}  // namespace enginerestrictions
