#include "client/integration/modCreDeskLink.h"

#include <windows.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include "common/win/owners.h"
#include "tests/integration/entrystate.h"

namespace {

using modCreDeskLink::FindDesktopLink;
using modCreDeskLink::LinkChange;
using modCreDeskLink::SetDesktopLink;

const std::wstring kTitle = L"Velmora音乐盒";
const std::wstring kLinkName = kTitle + L".lnk";

struct LinkInfo {
  std::wstring target, icon, workdir, args;
  int iconIndex = -1, show = -1;
};

// Reads a shortcut back through the shell's own link object.
bool ReadLink(const std::wstring& path, LinkInfo& out) {
  win::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
    return false;
  win::ComPtr<IPersistFile> file;
  if (FAILED(link.As(file)) || FAILED(file->Load(path.c_str(), STGM_READ))) return false;
  wchar_t buf[MAX_PATH * 2] = {};
  if (FAILED(link->GetPath(buf, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) return false;
  out.target = buf;
  if (FAILED(link->GetIconLocation(buf, MAX_PATH * 2, &out.iconIndex))) return false;
  out.icon = buf;
  if (FAILED(link->GetWorkingDirectory(buf, MAX_PATH * 2))) return false;
  out.workdir = buf;
  if (FAILED(link->GetArguments(buf, MAX_PATH * 2))) return false;
  out.args = buf;
  return SUCCEEDED(link->GetShowCmd(&out.show));
}

class DesktopLink : public ::testing::Test {
 protected:
  win::ComScope com;
  entrystate::DesktopAside desktop;
  entrystate::ClientFolder client;
  std::wstring link = desktop / kLinkName;

  void SetUp() override {
    ASSERT_FALSE(desktop.desktop().empty());
    ASSERT_EQ(modCreDeskLink::DesktopLinkPath(), link);
    ASSERT_TRUE(desktop.TitledEntries().empty());
  }
  void Put(const std::wstring& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    ASSERT_TRUE(testsupport::WriteFileBytes(desktop / name, "not really a shortcut"));
    ::SetFileAttributesW((desktop / name).c_str(), attributes);
  }
  DWORD Attributes(const std::wstring& name) { return ::GetFileAttributesW((desktop / name).c_str()); }
};

TEST_F(DesktopLink, IsCreatedPointingAtTheClientAndOnlyOnce) {
  EXPECT_FALSE(FindDesktopLink(kTitle, L""));
  EXPECT_EQ(SetDesktopLink(true), LinkChange::kCreated);
  LinkInfo info;
  ASSERT_TRUE(ReadLink(link, info));
  EXPECT_EQ(info.target, client.Exe());
  EXPECT_EQ(info.icon, client.path() + L"\\Icon.ico");
  EXPECT_EQ(info.iconIndex, 0);
  EXPECT_EQ(info.workdir, client.path());
  EXPECT_EQ(info.show, SW_SHOWNORMAL);
  EXPECT_EQ(info.args, L"");

  EXPECT_TRUE(FindDesktopLink(kTitle, L""));
  EXPECT_EQ(SetDesktopLink(true), LinkChange::kNone);
  EXPECT_EQ(desktop.TitledEntries(), std::vector<std::wstring>{kLinkName});

  // Deleted by the user: back at the next call.
  ASSERT_TRUE(::DeleteFileW(link.c_str()));
  EXPECT_EQ(SetDesktopLink(true), LinkChange::kCreated);
  EXPECT_TRUE(ReadLink(link, info));

  EXPECT_EQ(SetDesktopLink(false), LinkChange::kRemoved);
  EXPECT_EQ(Attributes(kLinkName), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(SetDesktopLink(false), LinkChange::kNone);
}

TEST_F(DesktopLink, ACopyUnderALongerNameInAnyCaseBlocksCreationAndStays) {
  for (const std::wstring& copy : {kTitle + L" - Copy.lnk", std::wstring(L"VELMORA音乐盒 - copy.LNK"),
                                   std::wstring(L"快捷方式 velmora音乐盒.lnk")}) {
    Put(copy);
    EXPECT_TRUE(FindDesktopLink(kTitle, L"")) << copy.size();
    EXPECT_EQ(SetDesktopLink(true), LinkChange::kNone);
    EXPECT_EQ(Attributes(kLinkName), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(SetDesktopLink(false), LinkChange::kNone);
    EXPECT_NE(Attributes(copy), INVALID_FILE_ATTRIBUTES);
    ::DeleteFileW((desktop / copy).c_str());
  }

  // With both there, only the exact name goes.
  Put(kLinkName);
  Put(kTitle + L" - Copy.lnk");
  EXPECT_EQ(SetDesktopLink(false), LinkChange::kRemoved);
  EXPECT_EQ(desktop.TitledEntries(), std::vector<std::wstring>{kTitle + L" - Copy.lnk"});
}

TEST_F(DesktopLink, HiddenSystemFoldersAndOtherExtensionsDoNotCount) {
  for (DWORD attributes : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    Put(kLinkName, attributes);
    EXPECT_FALSE(FindDesktopLink(kTitle, L""));
    // Not a normal file: not ours to delete.
    EXPECT_EQ(SetDesktopLink(false), LinkChange::kNone);
    EXPECT_EQ(Attributes(kLinkName) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), attributes);
    // Nor is it written over: the user's file stays as it was.
    EXPECT_EQ(SetDesktopLink(true), LinkChange::kFailed);
    EXPECT_EQ(testsupport::ReadFileBytes(link), "not really a shortcut");
    ::SetFileAttributesW(link.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(link.c_str());
  }
  ASSERT_TRUE(::CreateDirectoryW((desktop / (kTitle + L" folder.lnk")).c_str(), nullptr));
  Put(kTitle + L".lnk.txt");
  Put(kTitle + L".url");
  EXPECT_FALSE(FindDesktopLink(kTitle, L""));
  EXPECT_EQ(SetDesktopLink(true), LinkChange::kCreated);
  // A read-only copy is still a normal file.
  ::SetFileAttributesW(link.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(FindDesktopLink(kTitle, L""));
  ::SetFileAttributesW(link.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FindLink, ListsTheGivenFolderAndMatchesParts) {
  testsupport::TempDir dir;
  EXPECT_FALSE(FindDesktopLink(kTitle, dir.path()));
  ASSERT_TRUE(testsupport::WriteFileBytes(dir / L"My velmora音乐盒 (2).lnk", "x"));
  ASSERT_TRUE(testsupport::WriteFileBytes(dir / L"Velmora.lnk", "x"));
  EXPECT_TRUE(FindDesktopLink(kTitle, dir.path()));
  EXPECT_TRUE(FindDesktopLink(L"VELMORA.", dir.path()));
  EXPECT_FALSE(FindDesktopLink(L"Velmora音乐网", dir.path()));
  EXPECT_FALSE(FindDesktopLink(kTitle, dir / L"missing"));
}

}  // namespace
