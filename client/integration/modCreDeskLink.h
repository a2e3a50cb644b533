// The client's shortcut "Velmora音乐盒.lnk" on the current user's desktop.
#pragma once

#include <string>

namespace modCreDeskLink {

// The current user's desktop folder; empty when the shell cannot tell.
std::wstring DesktopFolder();
// The desktop folder followed by "\Velmora音乐盒.lnk"; empty without a desktop.
std::wstring DesktopLinkPath();

// True when a normal file (not a folder, not hidden or system) matching
// "*.lnk" in `folder` (empty: the desktop) has a name that contains `name`,
// letter case ignored (ordinal, the same for every locale).
bool FindDesktopLink(const std::wstring& name, const std::wstring& folder);

// What SetDesktopLink did. The client ignores it; tests check it.
enum class LinkChange {
  kNone,     // on: a matching shortcut is there already; off: there was none
  kCreated,
  kRemoved,
  kFailed,   // no desktop or shell link object, a hidden or system file of
             // that name in the way, or the save or deletion failed
};

// On: creates the shortcut (target the client, its "\Icon.ico", working
// folder the client's folder, normal window) unless a shortcut whose name
// contains the title is on the desktop. Off: deletes the normal file of
// exactly the shortcut's name and nothing else. Failures are silent.
LinkChange SetDesktopLink(bool create);

}  // namespace modCreDeskLink
