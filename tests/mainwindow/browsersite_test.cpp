// What the control learns when it asks the site the host gave it, asked as
// the control asks (Wine's engine asks for little of it, and never for the
// security manager).
#include "client/mainwindow/browsersite.h"

#include <mshtmdid.h>
#include <mshtmhst.h>
#include <servprov.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/mainwindow/enginerestrictions.h"
#include "tests/mainwindow/browserfixture.h"

namespace {

using namespace browsertest;

constexpr CLSID kMediaPlayer = {0x6BF52A52, 0x394A, 0x11D3, {0xB1, 0x53, 0x00, 0xC0, 0x4F, 0x79, 0xFA, 0xA6}};
constexpr CLSID kOther = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

class SiteTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    ASSERT_TRUE(host.Create(parent, rc, nullptr, MusicScope()));
    site = SiteOf(host);
    ASSERT_TRUE(site);
  }
  void TearDown() override {
    site.reset();
    HostFixture::TearDown();
  }
  win::ComPtr<IOleClientSite> site;
};

TEST_F(SiteTest, TheEngineHearsTheHostsRestrictionsAndFindsOnlyTheSecurityManager) {
  win::ComPtr<IDocHostUIHandler> ui;
  ASSERT_EQ(site.As(ui), S_OK);
  DOCHOSTUIINFO info{};
  info.cbSize = sizeof info;
  ASSERT_EQ(ui->GetHostInfo(&info), S_OK);
  EXPECT_NE(info.dwFlags & DOCHOSTUIFLAG_DPI_AWARE, 0u) << "the site is drawn at the display's scale";

  win::ComPtr<IDispatch> ambient;
  ASSERT_EQ(site.As(ambient), S_OK);
  DISPPARAMS none{};
  win::Variant answer;
  ASSERT_EQ(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                            answer.put(), nullptr, nullptr),
            S_OK);
  ASSERT_EQ(answer.ref().vt, VT_I4);
  EXPECT_EQ(answer.ref().lVal, enginerestrictions::DownloadControl());
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERAGENT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                            answer.put(), nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);

  // Ctrl+N, asked as the engine asks before it acts on a key.
  BYTE keys[256] = {}, held[256];
  ASSERT_TRUE(::GetKeyboardState(keys));
  std::memcpy(held, keys, sizeof held);
  held[VK_CONTROL] = 0x80;
  ::SetKeyboardState(held);
  MSG msg{host.Window(), WM_KEYDOWN, 'N', 0};
  EXPECT_EQ(ui->TranslateAccelerator(&msg, nullptr, 0), S_OK) << "kept from the engine";
  ::SetKeyboardState(keys);

  win::ComPtr<IServiceProvider> services;
  ASSERT_EQ(site.As(services), S_OK);
  win::ComPtr<IInternetSecurityManager> security;
  EXPECT_EQ(services->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager, security.put_void()),
            S_OK);
  win::ComPtr<IUnknown> other;
  EXPECT_EQ(services->QueryService(IID_IDocHostUIHandler, IID_IDocHostUIHandler, other.put_void()), E_NOINTERFACE);
  EXPECT_FALSE(other);
}

TEST_F(SiteTest, OnlyTheListedControlsRunAndOnlyOnTheSitesPages) {
  win::ComPtr<IServiceProvider> services;
  win::ComPtr<IInternetSecurityManager> security;
  ASSERT_EQ(site.As(services), S_OK);
  ASSERT_EQ(services->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager, security.put_void()),
            S_OK);
  const std::wstring page = music + L"/player", login = L"https://login.music.example.cn/",
                     ad = L"http://ads.example/frame.html";
  struct Row {
    const std::wstring& page;
    DWORD action;
    const CLSID* control;
    HRESULT hr;  // S_OK allows, S_FALSE refuses, INET_E_DEFAULT_ACTION leaves it to the zone
  };
  const Row rows[] = {
      {page, URLACTION_ACTIVEX_RUN, &kMediaPlayer, S_OK},
      {login, URLACTION_ACTIVEX_RUN, &kMediaPlayer, S_OK},
      {page, URLACTION_SCRIPT_SAFE_ACTIVEX, &kMediaPlayer, S_OK},
      {page, URLACTION_SCRIPT_SAFE_ACTIVEX, nullptr, S_OK},
      {page, URLACTION_ACTIVEX_RUN, &kOther, S_FALSE},
      {page, URLACTION_SCRIPT_SAFE_ACTIVEX, &kOther, S_FALSE},
      {page, URLACTION_ACTIVEX_RUN, nullptr, S_FALSE},
      {ad, URLACTION_ACTIVEX_RUN, &kMediaPlayer, S_FALSE},
      {ad, URLACTION_SCRIPT_SAFE_ACTIVEX, nullptr, S_FALSE},
      {page, URLACTION_DOWNLOAD_SIGNED_ACTIVEX, &kMediaPlayer, S_FALSE},
      {page, URLACTION_DOWNLOAD_UNSIGNED_ACTIVEX, nullptr, S_FALSE},
      {page, URLACTION_ACTIVEX_OVERRIDE_SCRIPT_SAFETY, &kMediaPlayer, S_FALSE},
      {page, URLACTION_HTML_JAVA_RUN, nullptr, S_FALSE},
      {page, URLACTION_SHELL_FILE_DOWNLOAD, nullptr, S_FALSE},
      {page, URLACTION_SHELL_EXECUTE_HIGHRISK, nullptr, S_FALSE},
      // The zone keeps the rest: scripts run, the pop-up blocker stays on.
      {page, URLACTION_SCRIPT_RUN, nullptr, INET_E_DEFAULT_ACTION},
      {ad, URLACTION_SCRIPT_RUN, nullptr, INET_E_DEFAULT_ACTION},
      {page, URLACTION_SHELL_POPUPMGR, nullptr, INET_E_DEFAULT_ACTION},
  };
  for (const Row& r : rows) {
    DWORD policy = 0xFF;
    const HRESULT hr = security->ProcessUrlAction(r.page.c_str(), r.action, reinterpret_cast<BYTE*>(&policy),
                                                  sizeof policy, reinterpret_cast<BYTE*>(const_cast<CLSID*>(r.control)),
                                                  r.control ? sizeof(CLSID) : 0, PUAF_DEFAULT, 0);
    EXPECT_EQ(hr, r.hr) << std::hex << r.action << " on " << std::string(r.page.begin(), r.page.end());
    if (hr == S_OK) {
      EXPECT_EQ(policy, static_cast<DWORD>(URLPOLICY_ALLOW)) << std::hex << r.action;
    } else if (hr == S_FALSE) {
      EXPECT_EQ(policy, static_cast<DWORD>(URLPOLICY_DISALLOW)) << std::hex << r.action;
    }
  }

  // A control a script makes by name is confirmed the same way.
  constexpr GUID kConfirmObjectSafety = {0x10200490, 0xfa38, 0x11d0, {0xac, 0x0e, 0x00, 0xa0, 0xc9, 0x0f, 0xff, 0xc0}};
  auto confirm = [&](const std::wstring& at, const CLSID& id) {
    CONFIRMSAFETY asked{id, nullptr, CONFIRMSAFETYACTION_LOADOBJECT};
    BYTE* answer = nullptr;
    DWORD size = 0;
    const HRESULT hr = security->QueryCustomPolicy(at.c_str(), kConfirmObjectSafety, &answer, &size,
                                                   reinterpret_cast<BYTE*>(&asked), sizeof asked, 0);
    const bool refused = hr == S_OK && size == sizeof(DWORD) && *reinterpret_cast<DWORD*>(answer) == URLPOLICY_DISALLOW;
    ::CoTaskMemFree(answer);
    return refused ? "refused" : hr == INET_E_DEFAULT_ACTION ? "its own marks" : "?";
  };
  EXPECT_STREQ(confirm(page, kMediaPlayer), "its own marks");
  EXPECT_STREQ(confirm(page, kOther), "refused");
  EXPECT_STREQ(confirm(ad, kMediaPlayer), "refused");
}

}  // namespace
