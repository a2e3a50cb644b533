// What reaches the default browser: clean web addresses the shell takes
// literally, and nothing else.
#include "client/mainwindow/defaultbrowser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/mainwindow/browserfixture.h"

namespace {

TEST(DefaultBrowser, OnlyCleanWebAddressesTheShellWouldNotExpandAreHandedOn) {
  browsertest::ShellRecorder shell;
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VELBOX_TEST_VALUE", L"C:\\Users\\someone"));
  for (const wchar_t* refused :
       {L"http://evil.example/%USERPROFILE%/x", L"http://evil.example/%VELBOX_TEST_VALUE%", L"http://evil.example/a b",
        L"file:///C:/x.html", L"javascript:x()", L"http://evil.example/\u200B", L""}) {
    EXPECT_FALSE(defaultbrowser::Open(refused)) << std::wstring(refused).size();
  }
  // Percent signs that name no variable stay as they are.
  const std::vector<std::wstring> handed = {L"http://evil.example/a%20b%20c?q=%E4%B9%90", L"https://evil.example/%x%"};
  for (const std::wstring& address : handed) EXPECT_TRUE(defaultbrowser::Open(address));
  EXPECT_EQ(shell.opened, handed);
  ::SetEnvironmentVariableW(L"VELBOX_TEST_VALUE", nullptr);
}

}  // namespace
