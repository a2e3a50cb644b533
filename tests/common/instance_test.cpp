#include "common/win/instance.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using win::InstanceClaim;

std::wstring Name(const wchar_t* what) {
  return L"Local\\velbox-tests." + std::wstring(what) + L"." + std::to_wstring(::GetCurrentProcessId());
}

TEST(ClaimInstance, AMutexThatExistsCountsAsARunningCopyEvenWhenItMayNotBeOpened) {
  const std::wstring name = Name(L"plain");
  win::UniqueHandle first, second;
  EXPECT_EQ(win::ClaimInstance(name.c_str(), first), InstanceClaim::kFirst);
  EXPECT_TRUE(first);
  EXPECT_EQ(win::ClaimInstance(name.c_str(), second), InstanceClaim::kAnotherRuns);
  EXPECT_FALSE(second);
  first.reset();
  EXPECT_EQ(win::ClaimInstance(name.c_str(), second), InstanceClaim::kFirst);

  // As a copy running elevated holds it for a standard user: its security
  // lets nobody else open it.
  const std::wstring guarded = Name(L"guarded");
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &sd, nullptr));
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  win::UniqueHandle other(::CreateMutexW(&sa, FALSE, guarded.c_str()));
  ::LocalFree(sd);
  ASSERT_TRUE(other);
  win::UniqueHandle mine;
  EXPECT_EQ(win::ClaimInstance(guarded.c_str(), mine), InstanceClaim::kAnotherRuns);
  EXPECT_FALSE(mine);
}

}  // namespace
