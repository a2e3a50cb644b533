#include "client/startup/modChkOptState.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "client/startup/modOpertXml.h"
#include "common/win/owners.h"
#include "tests/integration/entrystate.h"

namespace {

using entrystate::GetRun;
using entrystate::PutRun;
using entrystate::Sz;
using modChkOptState::ApplyOptions;
using modChkOptState::bCloseToTray;

const std::wstring kLinkName = L"Velmora音乐盒.lnk";

std::string Cfg(const char* autorun, const char* shortlnk, const char* closetotray) {
  return std::string("<config><autorun>") + autorun + "</autorun><shortlnk>" + shortlnk + "</shortlnk><closetotray>" +
         closetotray + "</closetotray><ver>1.0.0</ver></config>";
}

FILETIME WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

class Options : public ::testing::Test {
 protected:
  win::ComScope com;
  entrystate::RunValueAside runAside;
  entrystate::DesktopAside desktop;
  entrystate::ClientFolder client;
  entrystate::CountingWriter writer;
  const bool closeToTrayBefore = bCloseToTray;
  const std::wstring cfg = client.path() + L"\\cfg.xml";
  const std::wstring link = desktop / kLinkName;
  const std::wstring old = L"\"D:\\Old\\velBox.exe\" /regstart";

  void SetUp() override { ASSERT_TRUE(desktop.TitledEntries().empty()); }
  void TearDown() override { bCloseToTray = closeToTrayBefore; }
  void Put(const std::string& content) { ASSERT_TRUE(testsupport::WriteFileBytes(cfg, content)); }
  bool LinkThere() { return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; }
};

TEST_F(Options, FirstStartTurnsEverythingOnAndASecondRunChangesNothing) {
  bCloseToTray = false;
  ApplyOptions();
  EXPECT_TRUE(modOpertXml::ConfigFileExists());
  EXPECT_EQ(modOpertXml::ReadConfigKey(L"autorun"), L"1");
  EXPECT_EQ(GetRun(HKEY_CURRENT_USER), Sz(client.Command()));
  EXPECT_TRUE(modChkOptState::IsAutoRunSet());
  EXPECT_TRUE(bCloseToTray);
  ASSERT_TRUE(LinkThere());
  EXPECT_EQ(writer.sets, 1);

  const FILETIME linkTime = WriteTime(link);
  const std::string cfgBytes = testsupport::ReadFileBytes(cfg);
  ::Sleep(20);
  ApplyOptions();
  EXPECT_EQ(writer.sets, 1);
  EXPECT_EQ(writer.deletes, 0);
  const FILETIME linkTimeAfter = WriteTime(link);
  EXPECT_EQ(::CompareFileTime(&linkTime, &linkTimeAfter), 0);
  EXPECT_EQ(desktop.TitledEntries(), std::vector<std::wstring>{kLinkName});
  EXPECT_EQ(testsupport::ReadFileBytes(cfg), cfgBytes);

  // Deleted by the user: back at the next run, and only the shortcut moves.
  ASSERT_TRUE(::DeleteFileW(link.c_str()));
  ApplyOptions();
  EXPECT_TRUE(LinkThere());
  EXPECT_EQ(writer.sets, 1);
}

TEST_F(Options, OffRemovesOnlyTheClientsOwnEntries) {
  Put(Cfg("0", "0", "0"));
  bCloseToTray = true;
  ASSERT_TRUE(PutRun(HKEY_LOCAL_MACHINE, Sz(old)));
  ASSERT_TRUE(testsupport::WriteFileBytes(desktop / L"Velmora音乐盒 - Copy.lnk", "copy"));
  ASSERT_TRUE(testsupport::WriteFileBytes(link, "ours"));
  ApplyOptions();
  EXPECT_EQ(GetRun(HKEY_LOCAL_MACHINE), Sz(old));  // another install's entry
  EXPECT_EQ(writer.deletes, 0);
  EXPECT_FALSE(bCloseToTray);
  EXPECT_FALSE(LinkThere());
  EXPECT_EQ(desktop.TitledEntries(), std::vector<std::wstring>{L"Velmora音乐盒 - Copy.lnk"});

  // The current command goes, in whichever place it was written.
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    entrystate::DeleteRun(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(PutRun(root, Sz(client.Command())));
    ApplyOptions();
    EXPECT_FALSE(GetRun(root));
  }
}

TEST_F(Options, OnlyExactOneAndZeroCount) {
  for (const char* text : {" 1", "yes", "1 ", "01", "", "true", "０"}) {
    for (bool before : {false, true}) {
      Put(Cfg(text, text, text));
      ASSERT_TRUE(PutRun(HKEY_CURRENT_USER, Sz(client.Command())));
      ASSERT_TRUE(testsupport::WriteFileBytes(link, "ours"));
      bCloseToTray = before;
      ApplyOptions();
      EXPECT_EQ(bCloseToTray, before) << text;
      EXPECT_EQ(GetRun(HKEY_CURRENT_USER), Sz(client.Command())) << text;
      EXPECT_TRUE(LinkThere()) << text;
      ::DeleteFileW(link.c_str());
      entrystate::DeleteRun(HKEY_CURRENT_USER);
      ApplyOptions();
      EXPECT_FALSE(GetRun(HKEY_CURRENT_USER)) << text;
      EXPECT_FALSE(LinkThere()) << text;
    }
  }
  EXPECT_EQ(writer.sets + writer.deletes, 0);
}

TEST_F(Options, AnUnparsableFileAppliesNothing) {
  const std::string broken = "<config><autorun>1</autorun><shortlnk>1</shortlnk><closetotray>1";
  Put(broken);
  bCloseToTray = false;
  ApplyOptions();
  EXPECT_FALSE(bCloseToTray);
  EXPECT_FALSE(GetRun(HKEY_CURRENT_USER));
  EXPECT_FALSE(LinkThere());
  EXPECT_EQ(writer.sets, 0);
  EXPECT_EQ(testsupport::ReadFileBytes(cfg), broken);
}

TEST_F(Options, EachKeyIsAppliedOnItsOwn) {
  Put(Cfg("1", "0", "x"));
  bCloseToTray = true;
  ApplyOptions();
  EXPECT_EQ(GetRun(HKEY_CURRENT_USER), Sz(client.Command()));
  EXPECT_TRUE(bCloseToTray);
  EXPECT_FALSE(LinkThere());

  Put("<config><shortlnk>1</shortlnk></config>");
  ApplyOptions();
  EXPECT_TRUE(LinkThere());
  EXPECT_EQ(GetRun(HKEY_CURRENT_USER), Sz(client.Command()));
}

}  // namespace
