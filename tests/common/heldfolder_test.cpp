// Folder identity and the held folder, on Wine's file system.
#include "common/win/heldfolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "common/win/files.h"
#include "tests/support/testsupport.h"

namespace ts = testsupport;

namespace {

TEST(SameFolder, AnySpellingOfTheFolderIsItAndACopyIsNot) {
  ts::TempDir temp;
  const std::wstring folder = temp / L"Velmora音乐盒 long name";
  const std::wstring copy = temp / L"Velmora音乐盒 copy";
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(copy.c_str(), nullptr));
  ASSERT_TRUE(ts::WriteFileBytes(folder + L"\\velBox.exe", "MZ"));
  wchar_t shortName[MAX_PATH];
  const DWORD n = ::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
  ASSERT_GT(n, 0u);
  ASSERT_NE(std::wstring(shortName, n), folder) << "no 8.3 name to try";
  std::wstring upper = folder;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return std::towupper(c); });
  for (const std::wstring& same : {folder, std::wstring(shortName, n), upper, folder + L"\\", L"\\\\?\\" + folder,
                                   folder + L"\\.\\", folder + L"/"})
    EXPECT_TRUE(win::SameFolder(same, folder)) << std::string(same.begin(), same.end());
  for (const std::wstring& other : {copy, temp.path(), folder + L"\\velBox.exe", folder + L"\\missing", std::wstring()})
    EXPECT_FALSE(win::SameFolder(other, folder)) << std::string(other.begin(), other.end());
}

class HeldFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(::CreateDirectoryW(down.c_str(), nullptr)); }
  ts::TempDir temp;
  std::wstring down = temp / L"DownTmp";
};

TEST_F(HeldFolderTest, OnlyARealFolderIsHeldAndItStaysWhereItIs) {
  ASSERT_TRUE(ts::WriteFileBytes(temp / L"file", "x"));
  EXPECT_FALSE(win::HeldFolder::Open(temp.path(), L"file"));
  EXPECT_FALSE(win::HeldFolder::Open(temp.path(), L"missing"));
  EXPECT_FALSE(win::HeldFolder::Open(temp.path(), L"..\\DownTmp"));
  const win::HeldFolder held = win::HeldFolder::Open(temp.path(), L"DownTmp");
  ASSERT_TRUE(held);
  // Neither renamed away (and swapped for a link) nor held twice.
  EXPECT_FALSE(::MoveFileExW(down.c_str(), (temp / L"aside").c_str(), 0));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(win::HeldFolder::Open(temp.path(), L"DownTmp"));
}

TEST_F(HeldFolderTest, EachEntryIsDecidedOnItsOwnHandle) {
  ASSERT_TRUE(ts::WriteFileBytes(down + L"\\setup.exe", "MZ setup"));
  ASSERT_TRUE(ts::WriteFileBytes(temp / L"mine.exe", "MZ the user's"));
  ASSERT_TRUE(::CreateHardLinkW((down + L"\\linked.exe").c_str(), (temp / L"mine.exe").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((down + L"\\folder.exe").c_str(), nullptr));
  const win::HeldFolder held = win::HeldFolder::Open(temp.path(), L"DownTmp");
  ASSERT_TRUE(held);
  std::vector<std::wstring> names = held.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"folder.exe", L"linked.exe", L"setup.exe"}));
  // Another name of a file elsewhere, or a folder, is not deleted.
  EXPECT_FALSE(held.DeletePlainFile(L"linked.exe"));
  EXPECT_FALSE(held.DeletePlainFile(L"folder.exe"));
  EXPECT_FALSE(held.DeletePlainFile(L"..\\mine.exe"));
  EXPECT_TRUE(held.DeletePlainFile(L"setup.exe"));
  EXPECT_FALSE(ts::FileExists(down + L"\\setup.exe"));
  EXPECT_EQ(ts::ReadFileBytes(temp / L"mine.exe"), "MZ the user's");
  EXPECT_FALSE(held.DeleteIfEmpty());
}

TEST_F(HeldFolderTest, ANewFileTakesItsNameInOneStepThroughTheFolder) {
  ASSERT_TRUE(ts::WriteFileBytes(down + L"\\setup.exe", "old"));
  const win::HeldFolder held = win::HeldFolder::Open(temp.path(), L"DownTmp");
  ASSERT_TRUE(held);
  EXPECT_FALSE(held.CreateNew(L"setup.exe"));  // never over a file that is there
  win::UniqueFile f = held.CreateNew(L"~new.tmp");
  ASSERT_TRUE(f);
  DWORD put = 0;
  ASSERT_TRUE(::WriteFile(f.get(), "new", 3, &put, nullptr));
  EXPECT_TRUE(held.RenameInto(f.get(), L"setup.exe"));
  f.reset();
  EXPECT_EQ(ts::ReadFileBytes(down + L"\\setup.exe"), "new");
  EXPECT_FALSE(ts::FileExists(down + L"\\~new.tmp"));
  // A read-only file is not ours to replace; a probe goes when closed.
  ASSERT_TRUE(::SetFileAttributesW((down + L"\\setup.exe").c_str(), FILE_ATTRIBUTE_READONLY));
  f = held.CreateNew(L"~other.tmp");
  EXPECT_FALSE(held.RenameInto(f.get(), L"setup.exe"));
  EXPECT_TRUE(win::HeldFolder::DeleteOpen(f.get()));
  f.reset();
  held.CreateNew(L"~probe.tmp", true).reset();
  EXPECT_EQ(held.Names(), std::vector<std::wstring>{L"setup.exe"});
  ::SetFileAttributesW((down + L"\\setup.exe").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(HeldFolderTest, TheEmptyFolderGoesThroughItsHandle) {
  {
    const win::HeldFolder held = win::HeldFolder::Open(temp.path(), L"DownTmp");
    ASSERT_TRUE(held);
    EXPECT_TRUE(held.DeleteIfEmpty());
  }
  EXPECT_EQ(::GetFileAttributesW(down.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
