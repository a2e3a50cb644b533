#include "client/integration/entrytext.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace {

using entrytext::RegValueText;

// Data as the registry stores a string: UTF-16LE code units.
std::string Le(std::u16string_view units) {
  std::string bytes;
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

// The same with the terminating NUL a writer adds.
std::string LeZ(std::u16string units) { return Le(units + u'\0'); }

std::string Dword(std::uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}

TEST(AutoRunCommand, QuotesTheExecutableAndAddsTheSwitch) {
  EXPECT_EQ(entrytext::AutoRunCommand(u"D:\\Apps", u"velBox"), u"\"D:\\Apps\\velBox.exe\" /regstart");
  // The extension is always lower case; the base name stays as reported.
  EXPECT_EQ(entrytext::AutoRunCommand(u"C:\\Program Files\\Velmora音乐盒", u"VELBOX"),
            u"\"C:\\Program Files\\Velmora音乐盒\\VELBOX.exe\" /regstart");
  // A drive root already ends in a separator.
  EXPECT_EQ(entrytext::AutoRunCommand(u"C:\\", u"velBox"), u"\"C:\\velBox.exe\" /regstart");
  EXPECT_EQ(entrytext::ExeTarget(u"E:\\x", u"velBox"), u"E:\\x\\velBox.exe");
  EXPECT_EQ(entrytext::InFolder(u"E:\\x", u"Velmora音乐盒.lnk"), u"E:\\x\\Velmora音乐盒.lnk");
}

TEST(RegValueText, StringsEndAtTheirFirstNulAndNeedOne) {
  EXPECT_EQ(RegValueText(entrytext::kRegSz, LeZ(u"\"C:\\a\\velBox.exe\" /regstart")),
            u"\"C:\\a\\velBox.exe\" /regstart");
  EXPECT_EQ(RegValueText(entrytext::kRegSz, LeZ(u"音乐") + LeZ(u"tail")), u"音乐");
  EXPECT_EQ(RegValueText(entrytext::kRegSz, LeZ(u"")), u"");
  EXPECT_EQ(RegValueText(entrytext::kRegSz, Le(u"no terminator")), u"Error");
  EXPECT_EQ(RegValueText(entrytext::kRegSz, ""), u"Error");
  // A stray last byte is no character: the NUL before it still ends the text,
  // and without one the value still reads as an error.
  EXPECT_EQ(RegValueText(entrytext::kRegSz, LeZ(u"ab") + "x"), u"ab");
  EXPECT_EQ(RegValueText(entrytext::kRegSz, Le(u"ab") + "x"), u"Error");
}

TEST(RegValueText, DwordsAreSigned32BitDecimal) {
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(7)), u"7");
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(0)), u"0");
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(4294967295u)), u"-1");
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(0x7FFFFFFFu)), u"2147483647");
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(0x80000000u)), u"-2147483648");
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(1234567890u)), u"1234567890");
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(7).substr(0, 3)), u"Error");
  EXPECT_EQ(RegValueText(entrytext::kRegDword, Dword(7) + Dword(0)), u"Error");
}

TEST(RegValueText, OtherTypesReadAsEmpty) {
  const std::string text = LeZ(u"%ProgramFiles%\\velBox.exe");
  EXPECT_EQ(RegValueText(2 /* REG_EXPAND_SZ */, text), u"");
  EXPECT_EQ(RegValueText(7 /* REG_MULTI_SZ */, text + LeZ(u"")), u"");
  EXPECT_EQ(RegValueText(3 /* REG_BINARY */, Dword(7)), u"");
  EXPECT_EQ(RegValueText(11 /* REG_QWORD */, Dword(7) + Dword(0)), u"");
  EXPECT_EQ(RegValueText(0 /* REG_NONE */, ""), u"");
}

// --- The Run value in its two places ----------------------------------------

constexpr char16_t kCmd[] = u"\"C:\\Users\\u\\AppData\\Local\\Programs\\Velmora音乐盒\\velBox.exe\" /regstart";
constexpr char16_t kOther[] = u"\"C:\\Program Files\\Velmora音乐盒\\velBox.exe\" /regstart";

entrytext::AutoRunPlan Steps(bool writeUser, bool deleteMachine, bool deleteUser) {
  return {writeUser, deleteMachine, deleteUser};
}

TEST(PlanAutoRun, OnWritesTheUsersValueAndTakesThisCommandAwayMachineWide) {
  using entrytext::kError;
  using entrytext::kNotFound;
  struct Case {
    std::u16string_view machine, user;
    entrytext::AutoRunPlan want;
  };
  const Case cases[] = {
      // The user's value in place: nothing, unless this client's command is
      // machine-wide too (it would start twice, and for every user).
      {kNotFound, kCmd, Steps(false, false, false)},
      {kOther, kCmd, Steps(false, false, false)},
      {kError, kCmd, Steps(false, false, false)},
      {kCmd, kCmd, Steps(false, true, false)},
      // Missing, unreadable or another command for the user: written there;
      // another install's machine-wide value stays.
      {kNotFound, kNotFound, Steps(true, false, false)},
      {kError, kError, Steps(true, false, false)},
      {kOther, kOther, Steps(true, false, false)},
      {u"", kOther, Steps(true, false, false)},  // a value of another type
      {kCmd, kNotFound, Steps(true, true, false)},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(entrytext::PlanAutoRun(true, cases[i].machine, cases[i].user, kCmd), cases[i].want) << "case " << i;
  // Letter case counts: a command in other capitals is another command.
  std::u16string upper(kCmd);
  upper.replace(upper.find(u".exe"), 4, u".EXE");
  EXPECT_EQ(entrytext::PlanAutoRun(true, upper, upper, kCmd), Steps(true, false, false));
}

TEST(PlanAutoRun, OffDeletesOnlyTheCommandWhereItIs) {
  using entrytext::kError;
  using entrytext::kNotFound;
  EXPECT_EQ(entrytext::PlanAutoRun(false, kCmd, kCmd, kCmd), Steps(false, true, true));
  EXPECT_EQ(entrytext::PlanAutoRun(false, kCmd, kOther, kCmd), Steps(false, true, false));
  EXPECT_EQ(entrytext::PlanAutoRun(false, kOther, kCmd, kCmd), Steps(false, false, true));
  EXPECT_EQ(entrytext::PlanAutoRun(false, kOther, kOther, kCmd), entrytext::AutoRunPlan{});
  EXPECT_EQ(entrytext::PlanAutoRun(false, kNotFound, kError, kCmd), entrytext::AutoRunPlan{});
  EXPECT_EQ(entrytext::PlanAutoRun(false, u"", kNotFound, kCmd), entrytext::AutoRunPlan{});
}

}  // namespace
