// modCheckUpdate against the stand-in update server.
#include "updater/modCheckUpdate.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/product.h"
#include "common/text.h"
#include "common/win/inet.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"
#include "signed_fixtures.h"
#include "tests/support/testsupport.h"
#include "updater/transfer.h"

namespace mcu = modCheckUpdate;
namespace ts = testsupport;

namespace {

std::string Json(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Base64(std::string_view in) {
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                       static_cast<unsigned char>(in[i + 2]);
    out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], t[v & 63]};
  }
  if (i + 1 == in.size()) {
    const unsigned v = static_cast<unsigned char>(in[i]) << 16;
    out += {t[v >> 18], t[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == in.size()) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8);
    out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], '='};
  }
  return out;
}

// The body the stand-in generates for {"size": n}.
std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i & 0xFF);
  return s;
}

std::string Utf8(const std::wstring& w) { return text::Utf16ToUtf8(win::U(w)); }

const std::string kManifestPath = "/box/update.xml";
const std::string kSetupPath = "/box/VelmoraSetup.exe";

std::wstring SetupUrl() { return L"http://" + win::W(text::Utf8ToUtf16(ts::standin::UpdateHost())) + L"/box/VelmoraSetup.exe"; }

void RouteManifest(const std::string& body, int status = 200) {
  ASSERT_TRUE(ts::standin::Route("{\"path\": " + Json(kManifestPath) + ", \"host\": \"update\", \"status\": " +
                                 std::to_string(status) + ", \"body\": " + Json(body) + "}"));
}

void RouteSetup(const std::string& extra) {
  ASSERT_TRUE(ts::standin::Route("{\"path\": " + Json(kSetupPath) + ", \"host\": \"update\"" +
                                 (extra.empty() ? "" : ", " + extra) + "}"));
}

size_t CountRequests(const std::string& path) {
  size_t n = 0;
  for (const auto& p : ts::standin::RequestPaths("update"))
    if (p.substr(0, p.find('?')) == path) ++n;
  return n;
}

std::vector<std::wstring> ListFolder(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = ::FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring n = fd.cFileName;
    if (n != L"." && n != L"..") names.push_back(n);
  } while (::FindNextFileW(h, &fd));
  ::FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ts::standin::Reset());
    mcu::ResetStateForTesting();
    mcu::SetHttpWaitForTesting(5000);
    mcu::SetChunkObserverForTesting([this](size_t n) { chunks.push_back(n); });
    mcu::DownDir = down + L"\\";
  }
  void TearDown() override {
    // No transfer of this test may reach the next one.
    EXPECT_TRUE(transfer::Transfer::WaitForNone(10000)) << transfer::Transfer::Live() << " transfers still running";
    mcu::SetChunkObserverForTesting(nullptr);
    mcu::SetHttpWaitForTesting(5000);
    mcu::SetStallLimitForTesting(60000);
    mcu::ResetStateForTesting();
  }
  void WriteCfg(const std::string& bytes) { ASSERT_TRUE(ts::WriteFileBytes(app / L"cfg.xml", bytes)); }
  void WriteCfgVersion(const std::string& ver) {
    WriteCfg("<config><autorun>1</autorun><shortlnk>1</shortlnk><closetotray>1</closetotray><ver>" + ver +
             "</ver></config>");
  }
  std::string Installer() { return ts::ReadFileBytes(down + L"\\VelmoraSetup.exe"); }

  ts::TempDir app;
  ts::AppFolderScope scope{app.path()};
  std::wstring down = app / L"DownTmp";
  std::vector<size_t> chunks;
};

// --- the installation --------------------------------------------------------

TEST_F(UpdaterTest, OnlyTheRecordedFolderItselfIsTheInstallation) {
  const std::wstring key = win::W(product::kUninstallKey);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) ::RegDeleteKeyExW(root, key.c_str(), KEY_WOW64_32KEY, 0);
  auto record = [&](const std::wstring& location) {
    win::UniqueKey k;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                                nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(k.get(), L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location.c_str()),
                     static_cast<DWORD>((location.size() + 1) * sizeof(wchar_t)));
  };
  ASSERT_TRUE(ts::WriteFileBytes(app / L"velBox.exe", "client"));
  // A usable installer is there; only the installation may start it.
  mcu::ExeName = L"VelmoraSetup.exe";
  ASSERT_TRUE(::CreateDirectoryW(down.c_str(), nullptr));
  ASSERT_TRUE(ts::WriteFileBytes(down + L"\\VelmoraSetup.exe", "MZ setup"));
  EXPECT_FALSE(mcu::ProductInstalled());  // uninstalled: the entry is gone
  record(L"");
  EXPECT_FALSE(mcu::ProductInstalled());
  // Recorded elsewhere: this folder is a copy of the installation.
  ts::TempDir original;
  ASSERT_TRUE(ts::WriteFileBytes(original / L"velBox.exe", "client"));
  record(original.path());
  EXPECT_FALSE(mcu::ProductInstalled());
  EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
  record(app.path() + L"\\");
  EXPECT_TRUE(mcu::ProductInstalled());
  ASSERT_TRUE(::DeleteFileW((app / L"velBox.exe").c_str()));
  EXPECT_FALSE(mcu::ProductInstalled());  // the client is gone
  ::RegDeleteKeyExW(HKEY_CURRENT_USER, key.c_str(), KEY_WOW64_32KEY, 0);
}

// --- version check -----------------------------------------------------------

TEST_F(UpdaterTest, VersionCases) {
  struct Case {
    const char* local;
    std::string manifest;
    int status;
    bool update;
  } cases[] = {
      {"1.9.9", "<version>1.10.0</version>", 200, true},
      {"1.2.3", "<version>1.2.3</version>", 200, false},
      {"2.0.1", "<version>1.9.9</version>", 200, false},
      {"1.2.5", "<version>1.3</version>", 200, true},
      {"1.2.0", "<version>1.2</version>", 200, false},
      {"1.2.3", "<version>1.2.3.1</version>", 200, false},
      {"1.2.3", "<?xml version=\"1.0\"?>\r\n<update>\r\n<version> 1.2.4 </version>\r\n</update>\r\n", 200, true},
      {"1.2.3", "<Version>1.2.4</Version>", 200, false},
      {"1.2.3", "<html><body><h1>404 Not Found</h1></body></html>", 404, false},
      {"1.2.3", "", 200, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.local) + " vs " + c.manifest);
    ASSERT_TRUE(ts::standin::Reset());
    WriteCfgVersion(c.local);
    RouteManifest(c.manifest, c.status);
    EXPECT_EQ(mcu::CheckUpdate(), c.update);
    EXPECT_EQ(CountRequests(kManifestPath), 1u);
  }
  EXPECT_EQ(mcu::LocalVer, (std::vector<std::wstring>{L"1", L"2", L"3"}));
}

TEST_F(UpdaterTest, RequestCarriesTheTimeOfDay) {
  WriteCfgVersion("1.0.0");
  RouteManifest("<version>1.0.1</version>");
  EXPECT_TRUE(mcu::CheckUpdate());
  EXPECT_EQ(mcu::ServerVer, (std::vector<std::wstring>{L"1", L"0", L"1"}));
  const auto paths = ts::standin::RequestPaths("update");
  ASSERT_EQ(paths.size(), 1u);
  const std::string prefix = kManifestPath + "?";
  ASSERT_EQ(paths[0].substr(0, prefix.size()), prefix);
  const std::string t = paths[0].substr(prefix.size());
  char* end = nullptr;
  const double seconds = std::strtod(t.c_str(), &end);
  EXPECT_EQ(*end, '\0') << t;
  EXPECT_GE(seconds, 0.0);
  EXPECT_LT(seconds, 86400.0);
  // Seven significant digits at most.
  EXPECT_LE(std::count_if(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }), 7) << t;
}

TEST_F(UpdaterTest, NoUsableCfgMeansNoRequestAtAll) {
  RouteManifest("<version>9.9.9</version>");
  EXPECT_FALSE(mcu::CheckUpdate());  // no cfg.xml
  ASSERT_TRUE(::CreateDirectoryW((app / L"cfg.xml").c_str(), nullptr));
  EXPECT_FALSE(mcu::CheckUpdate());  // a folder of that name
  ::RemoveDirectoryW((app / L"cfg.xml").c_str());
  for (const char* bad : {"", "<ver>1.0.0", "1.0.0</ver>", "</ver>1.0.0<ver>", "<Ver>1.0.0</Ver>"}) {
    WriteCfg(bad);
    EXPECT_FALSE(mcu::CheckUpdate()) << bad;
  }
  EXPECT_EQ(CountRequests(kManifestPath), 0u);
}

TEST_F(UpdaterTest, CfgWithMarkAndLineBreakIsRead) {
  WriteCfg("\xEF\xBB\xBF<config><autorun>1</autorun><ver>1.0.0</ver></config>\r\n");
  RouteManifest("<version>1.0.1</version>");
  EXPECT_TRUE(mcu::CheckUpdate());
  EXPECT_EQ(mcu::LocalVer, (std::vector<std::wstring>{L"1", L"0", L"0"}));
}

TEST_F(UpdaterTest, ErrorPageBodyIsReturnedAsText) {
  RouteManifest("<html>gone</html>", 404);
  EXPECT_EQ(mcu::GetHttpText(win::W(product::ManifestAddress())), L"<html>gone</html>");
  EXPECT_EQ(mcu::GetHttpText(L"http://127.0.0.1:1/box/update.xml"), L"");  // refused: at once, no retry
}

TEST_F(UpdaterTest, ServerThatNeverAnswersCostsThreeWaitsAndFourRequests) {
  mcu::SetHttpWaitForTesting(300);
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/update.xml\", \"never_answer\": true, \"hold\": 4}"));
  const ULONGLONG t0 = ::GetTickCount64();
  EXPECT_EQ(mcu::GetHttpText(win::W(product::ManifestAddress())), L"");
  const ULONGLONG took = ::GetTickCount64() - t0;
  EXPECT_GE(took, 880u);
  EXPECT_LT(took, 2500u);
  // The fourth request went out and was given up on at once; with every
  // request ended, no fifth can follow.
  EXPECT_EQ(transfer::Transfer::Live(), 0);
  ASSERT_TRUE(ts::standin::WaitForRequests("update", [](const auto& p) { return p.size() >= 4; }, 5000));
  const auto paths = ts::standin::RequestPaths("update");
  ASSERT_EQ(paths.size(), 4u);
  for (size_t i = 1; i < paths.size(); ++i) EXPECT_NE(paths[i], paths[i - 1]) << "the time is formed afresh";
}

TEST_F(UpdaterTest, SlowAnswerWithinTheWaitIsTaken) {
  mcu::SetHttpWaitForTesting(1500);
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/update.xml\", \"delay\": 0.4, \"body\": \"<version>2</version>\"}"));
  EXPECT_EQ(mcu::GetHttpText(win::W(product::ManifestAddress())), L"<version>2</version>");
  EXPECT_EQ(CountRequests(kManifestPath), 1u);
}

TEST_F(UpdaterTest, WindowMessagesAreHandledWhileWaiting) {
  mcu::SetHttpWaitForTesting(2000);
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/update.xml\", \"delay\": 0.5, \"body\": \"x\"}"));
  static int handled = 0;
  handled = 0;
  const HWND w = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_TRUE(w);
  const UINT_PTR timer = ::SetTimer(w, 1, 50, [](HWND, UINT, UINT_PTR, DWORD) { ++handled; });
  EXPECT_EQ(mcu::GetHttpText(win::W(product::ManifestAddress())), L"x");
  ::KillTimer(w, timer);
  ::DestroyWindow(w);
  EXPECT_GE(handled, 3);
}

TEST_F(UpdaterTest, UpdateInfoInAnyOrderAmongOtherText) {
  RouteManifest("<?xml version=\"1.0\"?>\n<update>\n<opendownfile>5</opendownfile>\n<filesize>2500</filesize>\n"
                "<exename>VelmoraSetup.exe</exename>\n<note>x</note>\n<downurl>" + Utf8(SetupUrl()) +
                "</downurl>\n<version>1.0.1</version>\n</update>\n");
  mcu::ReadUpdateInfo();
  EXPECT_EQ(mcu::DownUrl, SetupUrl());
  EXPECT_EQ(mcu::ExeName, L"VelmoraSetup.exe");
  EXPECT_EQ(mcu::FileSize, 2500);
  EXPECT_EQ(mcu::OpenDownFile, 5);
}

TEST_F(UpdaterTest, LettersInTheSizeFieldStopTheReadingThere) {
  RouteManifest("<downurl>http://h/s.exe</downurl><exename>s.exe</exename><filesize>12ab</filesize>"
                "<opendownfile>5</opendownfile>");
  mcu::ReadUpdateInfo();
  EXPECT_EQ(mcu::DownUrl, L"http://h/s.exe");
  EXPECT_EQ(mcu::ExeName, L"s.exe");
  EXPECT_EQ(mcu::FileSize, 0);
  EXPECT_EQ(mcu::OpenDownFile, 0);
}

TEST_F(UpdaterTest, ManifestInTheAnsiCodePageOrUtf8) {
  // "安装.exe" in code page 936.
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/update.xml\", \"body_b64\": " +
                                 Json(Base64("<exename>\xB0\xB2\xD7\xB0.exe</exename>")) + "}"));
  mcu::ReadUpdateInfo();
  EXPECT_EQ(mcu::ExeName, L"");  // the reading stopped at the missing downurl
  RouteManifest("<downurl>u</downurl><exename>\xE5\xAE\x89\xE8\xA3\x85.exe</exename>");
  mcu::ReadUpdateInfo();
  EXPECT_EQ(mcu::ExeName, L"安装.exe");
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/update.xml\", \"body_b64\": " +
                                 Json(Base64("<downurl>u</downurl><exename>\xB0\xB2\xD7\xB0.exe</exename>")) + "}"));
  mcu::ExeName.clear();
  mcu::ReadUpdateInfo();
  EXPECT_EQ(mcu::ExeName, L"安装.exe");
}

// --- download ------------------------------------------------------------------

TEST_F(UpdaterTest, BodyIsAppendedInReadsOf1025Bytes) {
  mcu::ExeName = L"VelmoraSetup.exe";
  RouteSetup("\"size\": 2500");
  EXPECT_FALSE(ts::FileExists(down));
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kStored);
  EXPECT_EQ(chunks, (std::vector<size_t>{1025, 1025, 450}));
  EXPECT_EQ(Installer(), Pattern(2500));
  EXPECT_EQ(ListFolder(down), std::vector<std::wstring>{L"VelmoraSetup.exe"});  // no temporary file left
  EXPECT_TRUE(mcu::DownFileExists());

  chunks.clear();
  RouteSetup("\"size\": 2050");
  mcu::FileSize = 2050;
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kStored);
  EXPECT_EQ(chunks, (std::vector<size_t>{1025, 1025}));
  EXPECT_EQ(Installer(), Pattern(2050));
  const auto log = ts::standin::Log();
  EXPECT_NE(log.find("VB OpenUrl"), std::string::npos);
}

TEST_F(UpdaterTest, TrickledBodyIsKeptWhole) {
  mcu::ExeName = L"VelmoraSetup.exe";
  RouteSetup("\"size\": 6000, \"chunks\": [100, 700, 2000, 900, 3, 1500], \"chunk_delay\": 0.08");
  // Window messages are handled while the body trickles in.
  static int ticks = 0;
  ticks = 0;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { ++ticks; });
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kStored);
  ::KillTimer(nullptr, timer);
  EXPECT_GE(ticks, 3);  // one per pass at most: each read waits for its piece
  EXPECT_EQ(Installer(), Pattern(6000));
  size_t sum = 0;
  for (size_t c : chunks) {
    EXPECT_LE(c, 1025u);
    EXPECT_GT(c, 0u);
    sum += c;
  }
  EXPECT_EQ(sum, 6000u);
}

TEST_F(UpdaterTest, NothingIsKeptOfABrokenOrRefusedDownload) {
  mcu::ExeName = L"VelmoraSetup.exe";
  struct Case {
    std::string route;
    std::int32_t fileSize;
    mcu::DownloadResult result;
  } cases[] = {
      {"\"size\": 5000, \"drop_after\": 2000", 0, mcu::DownloadResult::kIncomplete},
      {"\"size\": 5000, \"drop_after\": 2000, \"no_length\": true", 5000, mcu::DownloadResult::kIncomplete},
      {"\"status\": 404, \"body\": \"<html>404 Not Found</html>\"", 0, mcu::DownloadResult::kNotOk},
      {"\"status\": 500, \"size\": 3000", 0, mcu::DownloadResult::kNotOk},
      {"\"body\": \"\"", 0, mcu::DownloadResult::kIncomplete},   // empty: not an installer
      {"\"size\": 2500", 2400, mcu::DownloadResult::kIncomplete},  // more than announced
      {"\"size\": 2500", 2600, mcu::DownloadResult::kIncomplete},  // less than announced
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.route);
    chunks.clear();
    RouteSetup(c.route);
    mcu::FileSize = c.fileSize;
    EXPECT_EQ(mcu::DownloadFile(SetupUrl()), c.result);
    EXPECT_TRUE(ListFolder(down).empty());
    EXPECT_FALSE(mcu::DownFileExists());
    EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
  }
  // Reading stops with the first chunk past the announced size.
  chunks.clear();
  RouteSetup("\"size\": 9000");
  mcu::FileSize = 1500;
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kIncomplete);
  EXPECT_EQ(chunks, (std::vector<size_t>{1025, 1025}));

  EXPECT_EQ(mcu::DownloadFile(L"http://127.0.0.1:1/x.exe"), mcu::DownloadResult::kOpenFailed);
  EXPECT_TRUE(ListFolder(down).empty());
}

TEST_F(UpdaterTest, ExistingInstallerIsUsedWhenItsSizeFits) {
  mcu::ExeName = L"VelmoraSetup.exe";
  ASSERT_TRUE(::CreateDirectoryW(down.c_str(), nullptr));
  ASSERT_TRUE(ts::WriteFileBytes(down + L"\\VelmoraSetup.exe", "0123456789"));
  EXPECT_TRUE(mcu::DownFileExists());
  mcu::FileSize = 10;
  EXPECT_TRUE(mcu::DownFileExists());
  mcu::FileSize = 2500;  // an earlier, broken download
  EXPECT_FALSE(mcu::DownFileExists());
  RouteSetup("\"size\": 2500");
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kStored);
  EXPECT_EQ(Installer(), Pattern(2500));
  EXPECT_TRUE(mcu::DownFileExists());
  ASSERT_TRUE(ts::WriteFileBytes(down + L"\\VelmoraSetup.exe", ""));
  mcu::FileSize = 0;
  EXPECT_FALSE(mcu::DownFileExists());  // an empty file is no installer
  ::DeleteFileW((down + L"\\VelmoraSetup.exe").c_str());
  ASSERT_TRUE(::CreateDirectoryW((down + L"\\VelmoraSetup.exe").c_str(), nullptr));
  EXPECT_FALSE(mcu::DownFileExists());  // a folder of that name
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kNotPlaced);
  EXPECT_EQ(ListFolder(down), std::vector<std::wstring>{L"VelmoraSetup.exe"});
  EXPECT_TRUE(ListFolder(down + L"\\VelmoraSetup.exe").empty());
}

TEST_F(UpdaterTest, DownloadIsPrivateAndFollowsRedirectsOnlyToWebAddresses) {
  mcu::ExeName = L"VelmoraSetup.exe";
  // A cookie that the store the embedded browser shares holds for the
  // update server; a plain request of this process sends it.
  ASSERT_TRUE(::InternetSetCookieW(SetupUrl().c_str(), nullptr, L"velsession=secret-1; expires=Sat, 01-Jan-2050 00:00:00 GMT"));
  {
    win::UniqueInet inet(::InternetOpenW(L"test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    win::UniqueInet url(::InternetOpenUrlW(inet.get(), (SetupUrl() + L"?plain").c_str(), nullptr, 0, 0, 0));
    ASSERT_TRUE(url);
  }
  ASSERT_NE(ts::standin::Log().find("secret-1"), std::string::npos) << "the control request sent no cookie";
  ASSERT_TRUE(ts::standin::Reset());

  // Moved to another address of a web server: followed, without the cookie.
  RouteSetup("\"status\": 302, \"headers\": {\"Location\": \"/box/moved.exe\"}");
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/moved.exe\", \"host\": \"update\", \"size\": 2500}"));
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kStored);
  EXPECT_EQ(Installer(), Pattern(2500));
  EXPECT_EQ(CountRequests("/box/moved.exe"), 1u);
  EXPECT_EQ(ts::standin::Log().find("secret-1"), std::string::npos);

  // Moved to a file of this machine or to another scheme: not followed, and
  // nothing is kept.
  ASSERT_TRUE(::DeleteFileW((down + L"\\VelmoraSetup.exe").c_str()));
  for (const char* location : {"file:///C:/windows/win.ini", "ftp://127.0.0.1/x.exe", "res://shell32.dll/x.exe",
                               "mk:@MSITStore:x.chm::/x.exe"}) {
    SCOPED_TRACE(location);
    RouteSetup(std::string("\"status\": 302, \"headers\": {\"Location\": ") + Json(location) + "}");
    EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kOpenFailed);
    EXPECT_TRUE(ListFolder(down).empty());
  }
  // Nor round and round.
  ASSERT_TRUE(ts::standin::Reset());
  RouteSetup("\"status\": 302, \"headers\": {\"Location\": \"/box/VelmoraSetup.exe\"}");
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kOpenFailed);
  EXPECT_EQ(CountRequests(kSetupPath), 1u + static_cast<size_t>(transfer::kMaxRedirects));
}

TEST_F(UpdaterTest, DownTmpThatIsAFileIsLeftAlone) {
  mcu::ExeName = L"VelmoraSetup.exe";
  ASSERT_TRUE(ts::WriteFileBytes(down, "not a folder"));
  RouteSetup("\"size\": 2500");
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kFolderUnusable);
  EXPECT_EQ(ts::ReadFileBytes(down), "not a folder");
  EXPECT_EQ(ListFolder(app.path()), std::vector<std::wstring>{L"DownTmp"});
  EXPECT_FALSE(mcu::DownFileExists());
  EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
  EXPECT_EQ(CountRequests(kSetupPath), 0u);
}

TEST_F(UpdaterTest, HostileNamesFetchAndStartNothing) {
  RouteSetup("\"size\": 2500");
  // Files the names would reach if joined as they are.
  const std::wstring beside = app / L"x.exe";
  for (const wchar_t* name : {L"..\\x.exe", L"C:\\x.exe", L"a/b.exe", L"con:", L"NUL.exe", L"", L"..", L"nul",
                              L"x.exe:stream", L"sub\\..\\..\\x.exe"}) {
    SCOPED_TRACE(Utf8(name));
    mcu::ExeName = name;
    EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kBadName);
    EXPECT_FALSE(mcu::DownFileExists());
    EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
  }
  EXPECT_FALSE(ts::FileExists(beside));
  EXPECT_FALSE(ts::FileExists(L"C:\\x.exe"));
  EXPECT_TRUE(ListFolder(app.path()).empty());  // not even DownTmp
  EXPECT_EQ(CountRequests(kSetupPath), 0u);
}

}  // namespace

namespace {

TEST_F(UpdaterTest, DownloadThatGoesQuietIsAbandonedAfterTheLimit) {
  mcu::ExeName = L"VelmoraSetup.exe";
  mcu::SetStallLimitForTesting(1500);
  struct Case {
    std::string route;
    mcu::DownloadResult result;
  } cases[] = {
      {"\"size\": 5000, \"stall_after\": 2000, \"hold\": 30", mcu::DownloadResult::kStalled},
      {"\"size\": 5000, \"stall_after\": 0, \"hold\": 30", mcu::DownloadResult::kStalled},  // headers, no body
      {"\"never_answer\": true, \"hold\": 30", mcu::DownloadResult::kStalled},             // not even headers
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.route);
    RouteSetup(c.route);
    const ULONGLONG t0 = ::GetTickCount64();
    EXPECT_EQ(mcu::DownloadFile(SetupUrl()), c.result);
    const ULONGLONG took = ::GetTickCount64() - t0;
    EXPECT_GE(took, 1400u);
    EXPECT_LT(took, 8000u);
    // Given up on is ended: nothing of it can reach the server later.
    EXPECT_EQ(transfer::Transfer::Live(), 0);
    EXPECT_TRUE(ListFolder(down).empty());
    EXPECT_FALSE(mcu::DownFileExists());
  }
  // The server lets go of the connections it still holds, as it does
  // between tests: no request is sent again over them.
  ASSERT_TRUE(ts::standin::Reset());
  ::Sleep(1500);
  EXPECT_TRUE(ts::standin::RequestPaths("update").empty());

  // The limit counts the silence, not the whole download: pieces that come
  // within it, for longer than it in all, make a whole installer.
  RouteSetup("\"size\": 3000, \"chunks\": [600], \"chunk_delay\": 0.6");
  EXPECT_EQ(mcu::DownloadFile(SetupUrl()), mcu::DownloadResult::kStored);
  EXPECT_EQ(Installer(), Pattern(3000));
}

// --- signed offers -------------------------------------------------------------

std::string Replaced(std::string s, const std::string& from, const std::string& to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

std::string WithoutLine(const std::string& s, const std::string& tag) {
  const size_t a = s.find("<" + tag + ">");
  const size_t b = s.find('\n', a);
  EXPECT_NE(a, std::string::npos) << tag;
  return a == std::string::npos ? s : s.substr(0, a) + s.substr(b + 1);
}

std::string FieldOf(const std::string& s, const std::string& tag) {
  const size_t a = s.find("<" + tag + ">") + tag.size() + 2;
  return s.substr(a, s.find("</" + tag + ">") - a);
}

class SignedUpdateTest : public UpdaterTest {
 protected:
  void SetUp() override {
    UpdaterTest::SetUp();
    mcu::PublicKey.assign(fixtures::kTestKey, fixtures::kTestKey + 64);
    WriteCfgVersion("1.0.0");
    RouteSetup("\"size\": " + std::to_string(fixtures::kInstallerSize));
  }
  // The updater's way to an offer: the check, then the download fields.
  void Offer(const std::string& manifest) {
    RouteManifest(manifest);
    ASSERT_TRUE(mcu::CheckUpdate());
    mcu::ReadUpdateInfo();
  }
  static std::string Tampered(size_t at) {
    std::string body = Pattern(fixtures::kInstallerSize);
    body[at] ^= 0x20;
    return body;
  }
  const std::string signedManifest = fixtures::kSignedManifest;
};

TEST_F(SignedUpdateTest, SignedOfferIsTakenAndItsInstallerKept) {
  Offer(signedManifest);
  EXPECT_TRUE(mcu::bOfferSigned);
  EXPECT_TRUE(mcu::OfferAccepted());
  EXPECT_EQ(mcu::ExeName, L"VelmoraSetup.exe");
  EXPECT_EQ(mcu::DownloadFile(mcu::DownUrl), mcu::DownloadResult::kStored);
  EXPECT_EQ(Installer(), Pattern(fixtures::kInstallerSize));
  EXPECT_EQ(ListFolder(down), std::vector<std::wstring>{L"VelmoraSetup.exe"});
  EXPECT_TRUE(mcu::DownFileExists());
  // Reading the offer anew starts from nothing: a failed fetch leaves no
  // earlier acceptance behind.
  RouteManifest("", 500);
  mcu::ReadUpdateInfo();
  EXPECT_FALSE(mcu::OfferAccepted());
  EXPECT_FALSE(mcu::DownFileExists());
}

TEST_F(SignedUpdateTest, TamperedOrUnsignedOffersFetchNothing) {
  const std::string sha = FieldOf(signedManifest, "sha256");
  const std::string sig = FieldOf(signedManifest, "signature");
  std::string otherSig = sig;
  otherSig[10] = otherSig[10] == 'A' ? 'B' : 'A';
  // Served as well, so that only the signature can stop them.
  RouteSetup("\"size\": " + std::to_string(fixtures::kInstallerSize));
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/Other.exe\", \"host\": \"update\", \"size\": 3000}"));
  const std::pair<const char*, std::string> cases[] = {
      {"version raised", Replaced(signedManifest, "<version>1.0.1<", "<version>1.0.2<")},
      {"downurl changed", Replaced(signedManifest, "/box/VelmoraSetup.exe<", "/box/Other.exe<")},
      {"exename changed", Replaced(signedManifest, ">VelmoraSetup.exe<", ">Other.exe<")},
      {"filesize changed", Replaced(signedManifest, ">3000<", ">3001<")},
      {"sha256 changed", Replaced(signedManifest, sha, std::string(64, 'a'))},
      {"signature changed", Replaced(signedManifest, sig, otherSig)},
      {"signature removed", WithoutLine(signedManifest, "signature")},
      {"sha256 removed", WithoutLine(signedManifest, "sha256")},
      {"unsigned", WithoutLine(WithoutLine(signedManifest, "signature"), "sha256")},
      {"signed by another key", fixtures::kOtherKeyManifest},
  };
  for (const auto& [name, manifest] : cases) {
    SCOPED_TRACE(name);
    Offer(manifest);
    EXPECT_FALSE(mcu::bOfferSigned);
    EXPECT_FALSE(mcu::OfferAccepted());
    EXPECT_EQ(mcu::DownloadFile(mcu::DownUrl), mcu::DownloadResult::kNotAccepted);
    EXPECT_FALSE(mcu::DownFileExists());
    EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
  }
  EXPECT_EQ(CountRequests(kSetupPath), 0u);
  EXPECT_EQ(CountRequests("/box/Other.exe"), 0u);
  EXPECT_FALSE(ts::FileExists(down));

  // Without a key the same unsigned offer is taken, as it always was.
  mcu::PublicKey.clear();
  Offer(cases[8].second);
  EXPECT_TRUE(mcu::OfferAccepted());
  EXPECT_EQ(mcu::DownloadFile(mcu::DownUrl), mcu::DownloadResult::kStored);
}

TEST_F(SignedUpdateTest, SignedOfferThatIsNotNewerIsNoUpdate) {
  // A genuine manifest of the installed version, served after a first
  // answer that claimed a newer one.
  RouteManifest("<version>9.0.0</version>");
  ASSERT_TRUE(mcu::CheckUpdate());
  WriteCfgVersion("1.0.1");
  ASSERT_TRUE(mcu::ReadLocalVersion());
  RouteManifest(signedManifest);
  mcu::ReadUpdateInfo();
  EXPECT_FALSE(mcu::OfferAccepted());
  EXPECT_EQ(mcu::DownloadFile(mcu::DownUrl), mcu::DownloadResult::kNotAccepted);
  EXPECT_EQ(CountRequests(kSetupPath), 0u);
}

TEST_F(SignedUpdateTest, InstallerChangedOnTheWayIsNotKept) {
  Offer(signedManifest);
  ASSERT_TRUE(mcu::OfferAccepted());
  for (size_t at : {size_t{0}, fixtures::kInstallerSize / 2, fixtures::kInstallerSize - 1}) {
    SCOPED_TRACE(at);
    ASSERT_TRUE(ts::standin::Route("{\"path\": " + Json(kSetupPath) + ", \"host\": \"update\", \"body_b64\": " +
                                   Json(Base64(Tampered(at))) + "}"));
    EXPECT_EQ(mcu::DownloadFile(mcu::DownUrl), mcu::DownloadResult::kHashMismatch);
    EXPECT_TRUE(ListFolder(down).empty());
    EXPECT_FALSE(mcu::DownFileExists());
    EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
  }
}

TEST_F(SignedUpdateTest, InstallerInDownTmpIsCheckedBeforeItIsUsed) {
  Offer(signedManifest);
  ASSERT_TRUE(mcu::OfferAccepted());
  ASSERT_TRUE(::CreateDirectoryW(down.c_str(), nullptr));
  // Of the right size, one byte off: neither used nor started.
  ASSERT_TRUE(ts::WriteFileBytes(down + L"\\VelmoraSetup.exe", Tampered(100)));
  EXPECT_FALSE(mcu::DownFileExists());
  EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
  EXPECT_EQ(CountRequests(kSetupPath), 0u);
  // The signed installer is fetched over it.
  EXPECT_EQ(mcu::DownloadFile(mcu::DownUrl), mcu::DownloadResult::kStored);
  EXPECT_TRUE(mcu::DownFileExists());
  // The same file under an offer that is not accepted is not used either.
  RouteManifest(WithoutLine(signedManifest, "signature"));
  mcu::ReadUpdateInfo();
  EXPECT_FALSE(mcu::DownFileExists());
  EXPECT_FALSE(mcu::LaunchDownFile(nullptr));
}

}  // namespace

namespace {

TEST_F(UpdaterTest, EndlessManifestIsGivenUpWithoutFillingTheMemory) {
  // A long wait: only the size can end the fetch this early.
  mcu::SetHttpWaitForTesting(20000);
  ASSERT_TRUE(ts::standin::Route("{\"path\": \"/box/update.xml\", \"endless\": true, \"hold\": 60}"));
  const ULONGLONG t0 = ::GetTickCount64();
  EXPECT_EQ(mcu::GetHttpText(win::W(product::ManifestAddress())), L"");
  EXPECT_LT(::GetTickCount64() - t0, 20000u);
  EXPECT_EQ(CountRequests(kManifestPath), 1u);

  // A long one that ends is read as any other.
  const std::string text = "<version>1.2.4</version>" + std::string(10u << 20, 'x');
  RouteManifest(text);
  EXPECT_EQ(mcu::GetHttpText(win::W(product::ManifestAddress())).size(), text.size());
}

}  // namespace
