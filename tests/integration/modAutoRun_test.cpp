#include "client/integration/modAutoRun.h"

#include <gtest/gtest.h>

#include "client/startup/modChkOptState.h"
#include "common/win/owners.h"
#include "tests/integration/entrystate.h"

namespace {

using entrystate::GetRun;
using entrystate::PutRun;
using entrystate::Sz;
using modAutoRun::AutoRunChange;
using modAutoRun::ReadRegValue;
using modAutoRun::SetAutoRun;
using modChkOptState::IsAutoRunSet;

const HKEY kMachine = HKEY_LOCAL_MACHINE;
const HKEY kUser = HKEY_CURRENT_USER;

// --- ReadRegValue on a key of its own --------------------------------------

class RegRead : public ::testing::Test {
 protected:
  const std::wstring sub = L"Software\\velbox-tests\\read-" + std::to_wstring(::GetCurrentProcessId());
  win::UniqueKey key;

  void SetUp() override {
    ASSERT_EQ(::RegCreateKeyExW(kUser, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    key.reset();
    ::RegDeleteTreeW(kUser, L"Software\\velbox-tests");
  }
  void Put(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
  }
  std::wstring Read(const wchar_t* name) { return ReadRegValue(kUser, sub, name); }
};

TEST_F(RegRead, GivesTheTextOrTheMarkerOfEachCase) {
  EXPECT_EQ(ReadRegValue(kUser, sub + L"\\missing", L"x"), L"Error");
  EXPECT_EQ(Read(L"absent"), L"ERROR_FILE_NOT_FOUND");

  const wchar_t text[] = L"\"C:\\Apps\\velBox.exe\" /regstart";
  Put(L"sz", REG_SZ, text, sizeof text);
  EXPECT_EQ(Read(L"sz"), text);
  const wchar_t cut[] = L"first\0second";
  Put(L"cut", REG_SZ, cut, sizeof cut);
  EXPECT_EQ(Read(L"cut"), L"first");
  // The system adds a NUL the caller left out when one follows in memory.
  const wchar_t longer[] = L"abcX";
  Put(L"unterminated", REG_SZ, longer, 3 * sizeof(wchar_t));
  EXPECT_EQ(Read(L"unterminated"), L"Error");
  Put(L"empty", REG_SZ, L"", sizeof(wchar_t));
  EXPECT_EQ(Read(L"empty"), L"");
  Put(L"chinese", REG_SZ, L"Velmora音乐网", sizeof L"Velmora音乐网");
  EXPECT_EQ(Read(L"chinese"), L"Velmora音乐网");

  const DWORD seven = 7, all = 4294967295u;
  Put(L"seven", REG_DWORD, &seven, sizeof seven);
  Put(L"all", REG_DWORD, &all, sizeof all);
  EXPECT_EQ(Read(L"seven"), L"7");
  EXPECT_EQ(Read(L"all"), L"-1");

  Put(L"expand", REG_EXPAND_SZ, text, sizeof text);
  Put(L"binary", REG_BINARY, &seven, sizeof seven);
  EXPECT_EQ(Read(L"expand"), L"");
  EXPECT_EQ(Read(L"binary"), L"");
}

TEST(RegReadView, ReadsThe32BitView) {
  // HKLM\Software is split between the views; HKCU\Software is not.
  const std::wstring sub = L"Software\\velbox-tests-view-" + std::to_wstring(::GetCurrentProcessId());
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    win::UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(kMachine, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(),
                                nullptr),
              ERROR_SUCCESS);
    const std::wstring data = view == KEY_WOW64_32KEY ? L"32" : L"64";
    ::RegSetValueExW(key.get(), L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  EXPECT_EQ(ReadRegValue(kMachine, sub, L"v"), L"32");
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) ::RegDeleteKeyExW(kMachine, sub.c_str(), view, 0);
}

// --- The Run value -----------------------------------------------------------

class RunEntry : public ::testing::Test {
 protected:
  entrystate::RunValueAside aside;
  entrystate::ClientFolder client;
  entrystate::CountingWriter writer;
  const std::wstring command = client.Command();
  const std::wstring old = L"\"C:\\Program Files\\Old\\velBox.exe\" /regstart";
};

TEST_F(RunEntry, MissingValueIsWrittenOnceForTheUserInThe32BitView) {
  EXPECT_EQ(modAutoRun::AutoRunCommand(), command);
  EXPECT_FALSE(IsAutoRunSet());

  EXPECT_EQ(SetAutoRun(true), AutoRunChange::kWroteUser);
  EXPECT_EQ(GetRun(kUser), Sz(command));  // REG_SZ, size counts the NUL
  EXPECT_FALSE(GetRun(kMachine));
  EXPECT_TRUE(IsAutoRunSet());

  EXPECT_EQ(SetAutoRun(true), AutoRunChange::kNone);
  EXPECT_EQ(writer.sets, 1);
}

TEST_F(RunEntry, WritableMachineKeyGetsNothingAndLosesThisClientsOldValue) {
  // As an older client left it, machine-wide; HKLM is writable here.
  ASSERT_TRUE(PutRun(kMachine, Sz(command)));
  EXPECT_TRUE(IsAutoRunSet());
  EXPECT_EQ(SetAutoRun(true), AutoRunChange::kWroteUser);
  EXPECT_FALSE(GetRun(kMachine));
  EXPECT_EQ(GetRun(kUser), Sz(command));
  EXPECT_EQ(writer.sets, 1);
  EXPECT_EQ(writer.deletes, 1);

  // Another installation's value machine-wide is not ours to touch.
  ASSERT_TRUE(PutRun(kMachine, Sz(old)));
  EXPECT_EQ(SetAutoRun(true), AutoRunChange::kNone);
  EXPECT_EQ(GetRun(kMachine), Sz(old));
  EXPECT_EQ(writer.sets, 1);

  // Where HKLM refuses the deletion, the user's value is written all the same.
  entrystate::DeleteRun(kUser);
  ASSERT_TRUE(PutRun(kMachine, Sz(command)));
  writer.refuseMachine = true;
  EXPECT_EQ(SetAutoRun(true), AutoRunChange::kWroteUser);
  EXPECT_EQ(GetRun(kMachine), Sz(command));
  EXPECT_EQ(GetRun(kUser), Sz(command));
}

TEST_F(RunEntry, ValueOfAnotherCommandIsNotSetAndIsReplaced) {
  const std::wstring upperExe = command.substr(0, command.size() - 15) + L".EXE\" /regstart";
  ASSERT_EQ(upperExe.size(), command.size());
  ASSERT_NE(upperExe, command);
  const entrystate::RawValue others[] = {Sz(old), Sz(upperExe), Sz(command + L" "),
                                         entrystate::Typed(REG_EXPAND_SZ, command), entrystate::Dword(7),
                                         entrystate::Dword(4294967295u)};
  for (const entrystate::RawValue& other : others) {
    ASSERT_TRUE(PutRun(kUser, other));
    EXPECT_FALSE(IsAutoRunSet());
    EXPECT_EQ(SetAutoRun(true), AutoRunChange::kWroteUser);
    EXPECT_EQ(GetRun(kUser), Sz(command));
  }
  EXPECT_EQ(writer.sets, 6);
  ASSERT_TRUE(PutRun(kUser, entrystate::Dword(4294967295u)));
  EXPECT_EQ(ReadRegValue(kUser, modAutoRun::kRunKey, modAutoRun::RunValueName()), L"-1");
}

TEST_F(RunEntry, OffDeletesOnlyTheCommandAndIsQuietWhenNothingIs) {
  EXPECT_EQ(SetAutoRun(false), AutoRunChange::kRemoved);
  EXPECT_EQ(writer.deletes, 0);
  EXPECT_FALSE(GetRun(kUser));

  // Another install's entry stays, in either place.
  for (HKEY ours : {kMachine, kUser}) {
    const HKEY theirs = ours == kMachine ? kUser : kMachine;
    ASSERT_TRUE(PutRun(theirs, Sz(old)));
    ASSERT_TRUE(PutRun(ours, Sz(command)));
    EXPECT_EQ(SetAutoRun(false), AutoRunChange::kRemoved);
    EXPECT_FALSE(GetRun(ours));
    EXPECT_EQ(GetRun(theirs), Sz(old));
    entrystate::DeleteRun(theirs);
  }
  EXPECT_EQ(writer.deletes, 2);

  // The command machine-wide that cannot be deleted stays, and says so.
  writer.refuseMachine = true;
  ASSERT_TRUE(PutRun(kMachine, Sz(command)));
  EXPECT_EQ(SetAutoRun(false), AutoRunChange::kNotRemoved);
  EXPECT_EQ(GetRun(kMachine), Sz(command));
}

TEST_F(RunEntry, RefusedUserWriteLeavesNothingAndSaysSo) {
  struct RefuseAll final : modAutoRun::RegistryWriter {
    LSTATUS SetString(HKEY, const std::wstring&, const std::wstring&, const std::wstring&) override {
      return ERROR_ACCESS_DENIED;
    }
    LSTATUS DeleteValue(HKEY, const std::wstring&, const std::wstring&) override { return ERROR_ACCESS_DENIED; }
  } refuseAll;
  modAutoRun::SetRegistryWriterForTesting(&refuseAll);
  EXPECT_EQ(SetAutoRun(true), AutoRunChange::kNotWritten);
  modAutoRun::SetRegistryWriterForTesting(&writer);
  EXPECT_FALSE(GetRun(kUser));
  EXPECT_FALSE(GetRun(kMachine));
}

}  // namespace
