// Names and addresses of the product. No Windows header: built natively too.
#pragma once

#include <string>
#include <string_view>

#include "buildinfo.h"

namespace product {

inline constexpr char16_t kAppTitle[] = u"Velmora音乐盒";
inline constexpr char16_t kSiteName[] = u"Velmora音乐网";
inline constexpr char16_t kConfigFile[] = u"\\cfg.xml";
inline constexpr char16_t kIconFile[] = u"\\Icon.ico";
inline constexpr char16_t kClientFile[] = u"\\velBox.exe";
inline constexpr char16_t kUpdaterFile[] = u"\\velUpdate.exe";
inline constexpr char16_t kDownloadFolder[] = u"\\DownTmp\\";
// Written by the uninstaller into the folder before it removes anything,
// cleared by the next install: a program still running from the folder
// after its uninstall finds it there (win::RemovedUnder).
inline constexpr char16_t kRemovedMark[] = u"\\uninstalled.mark";

// The installation's uninstall entry, in the 32-bit view of the registry:
// under HKEY_CURRENT_USER for the per-user installer, under
// HKEY_LOCAL_MACHINE for a machine-wide installation of an older one.
inline constexpr char16_t kUninstallKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora音乐盒";

// A path made of a program folder and one of the literals above, which begin
// with "\": a folder that already ends in a separator (a drive root, "C:\")
// gives no second one.
std::u16string InAppFolder(std::u16string_view folder, std::u16string_view literal);

// "http://" + host, no path and no trailing slash.
inline std::u16string WebHome() { return std::u16string(u"http://") + buildinfo::kWebHost; }
inline std::u16string MusicHome() { return std::u16string(u"http://") + buildinfo::kMusicHost; }
inline std::u16string MusicNoAutoplay() { return MusicHome() + u"/?autoplay=0"; }
// Further hosts of the music site ("host[:port]") and the class ids
// ("{...}") of the installed ActiveX controls its pages may run, each
// separated by spaces.
inline std::u16string_view SiteHosts() { return buildinfo::kSiteHosts; }
inline std::u16string_view SiteControls() { return buildinfo::kSiteControls; }
inline std::u16string StatisticsAddress() {
  return std::u16string(u"http://") + buildinfo::kUpdateHost + u"/count/?all";
}
inline std::u16string ManifestAddress() {
  return std::u16string(u"http://") + buildinfo::kUpdateHost + u"/box/update.xml";
}

// major "." minor "." revision, plain decimal.
std::u16string VersionText(unsigned major, unsigned minor, unsigned revision);
// The version of the program it is linked into (common/programversion.cpp,
// compiled once per program).
std::u16string ClientVersionText();

}  // namespace product
