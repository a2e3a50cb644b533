// A browser host in a parent window of the test process, and the calls the
// engine makes on the host's objects, for the browser host's tests.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "client/mainwindow/browserhost.h"
#include "client/mainwindow/browserhost_testing.h"
#include "common/product.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"

namespace browsertest {

// Handles messages until `done` or the deadline.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (::GetTickCount64() >= end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

inline bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// The (first) event sink advised on a source (a browser, a document), found
// as the source finds it: through its connection point.
inline win::ComPtr<IDispatch> SinkOf(IUnknown* source, const IID& events = DIID_DWebBrowserEvents2) {
  win::ComPtr<IDispatch> sink;
  win::ComPtr<IConnectionPointContainer> container;
  win::ComPtr<IConnectionPoint> point;
  win::ComPtr<IEnumConnections> list;
  if (!source || FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
      FAILED(container->FindConnectionPoint(events, point.put())) ||
      FAILED(point->EnumConnections(list.put())))
    return sink;
  CONNECTDATA data{};
  ULONG got = 0;
  if (list->Next(1, &data, &got) != S_OK || got != 1) return sink;
  data.pUnk->QueryInterface(IID_IDispatch, sink.put_void());
  // Wine's browser hands out its connections without a reference.
  if (!UnderWine()) data.pUnk->Release();
  return sink;
}
inline win::ComPtr<IDispatch> SinkOf(BrowserHost& host) { return SinkOf(host.Browser()); }

// The client site the control holds, as the control asks it.
inline win::ComPtr<IOleClientSite> SiteOf(BrowserHost& host) {
  win::ComPtr<IOleObject> ole;
  win::ComPtr<IOleClientSite> site;
  if (host.Browser() && SUCCEEDED(host.Browser()->QueryInterface(IID_IOleObject, ole.put_void())))
    ole->GetClientSite(site.put());
  return site;
}

// Raises event `id` on `sink` as the control does; `args` in declaration
// order (DISPPARAMS holds them reversed).
inline HRESULT Raise(IDispatch* sink, DISPID id, std::vector<VARIANT> args) {
  std::reverse(args.begin(), args.end());
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

inline VARIANT ByRef(VARIANT* v) {
  VARIANT r;
  r.vt = VT_BYREF | VT_VARIANT;
  r.pvarVal = v;
  return r;
}
inline VARIANT BoolRef(VARIANT_BOOL* b) {
  VARIANT r;
  r.vt = VT_BYREF | VT_BOOL;
  r.pboolVal = b;
  return r;
}
inline VARIANT Dispatch(IDispatch* d) {
  VARIANT r;
  r.vt = VT_DISPATCH;
  r.pdispVal = d;
  return r;
}
inline VARIANT Text(BSTR b) {
  VARIANT r;
  r.vt = VT_BSTR;
  r.bstrVal = b;
  return r;
}

// Addresses the host handed to the default browser, for the scope.
struct ShellRecorder {
  std::vector<std::wstring> opened;
  ShellRecorder() {
    browserhost_testing::SetShellOpener([this](const std::wstring& url) { opened.push_back(url); });
  }
  ~ShellRecorder() { browserhost_testing::SetShellOpener(nullptr); }
};

// The music site as built, with a named further host and the control the
// site plays through.
inline BrowserHost::Scope MusicScope() {
  return {navpolicy::Site::Hosts(product::MusicHome(), u"login.music.example.cn"),
          BrowserHost::ClassIds(L"{6BF52A52-394A-11D3-B153-00C04F79FAA6}")};
}

class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ole.ok());
    static const ATOM cls = [] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = ::DefWindowProcW;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = L"BrowserHostTestParent";
      return ::RegisterClassW(&wc);
    }();
    parent = ::CreateWindowExW(0, MAKEINTATOM(cls), L"parent", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 600, 400,
                               nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(parent);
  }
  void TearDown() override {
    host.Destroy();
    if (parent) ::DestroyWindow(parent);
    EXPECT_EQ(browserhost_testing::LiveObjects(), 0);
  }

  win::OleScope ole;
  HWND parent = nullptr;
  BrowserHost host;
  const RECT rc{-2, -2, 500, 300};
  const std::wstring music = win::W(product::MusicHome());
};

}  // namespace browsertest
