#include "client/mainwindow/browserhost.h"

#include <exdispid.h>
#include <ocidl.h>

#include <gtest/gtest.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <servprov.h>
#include <urlmon.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/product.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::standin::RequestPaths;

struct Recorder : BrowserHost::Events {
  std::vector<std::wstring> log;
  IDispatch* lastDisp = nullptr;
  std::function<void(const std::wstring&)> then;  // after each download event
  void OnDownloadBegin() override { Note(L"begin"); }
  void OnDownloadComplete() override { Note(L"complete"); }
  void Note(const std::wstring& what) {
    log.push_back(what);
    if (then) then(what);
  }
  void OnDocumentComplete(IDispatch* pDisp, const std::wstring& url) override {
    lastDisp = pDisp;
    log.push_back(L"document " + url);
  }
  size_t Count(const std::wstring& what) const { return std::count(log.begin(), log.end(), what); }
};

// Handles messages until `done` or the deadline.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
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

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// The control's window in the parent's client coordinates.
RECT ChildRect(HWND parent) {
  RECT r{};
  HWND child = ::GetWindow(parent, GW_CHILD);
  if (!child) return r;
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string Show(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

#define EXPECT_RECT(actual, expected) EXPECT_EQ(Show(actual), Show(expected))

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// The event sink the host gave the control, found as the control finds it:
// through its connection point.
win::ComPtr<IDispatch> SinkOf(BrowserHost& host) {
  win::ComPtr<IDispatch> sink;
  win::ComPtr<IConnectionPointContainer> container;
  win::ComPtr<IConnectionPoint> point;
  win::ComPtr<IEnumConnections> list;
  if (!host.Browser() ||
      FAILED(host.Browser()->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
      FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())) ||
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

// Raises event `id` on `sink` as the control does; `args` in declaration
// order (DISPPARAMS holds them reversed).
HRESULT Raise(IDispatch* sink, DISPID id, std::vector<VARIANT> args) {
  std::reverse(args.begin(), args.end());
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

VARIANT ByRef(VARIANT* v) {
  VARIANT r;
  r.vt = VT_BYREF | VT_VARIANT;
  r.pvarVal = v;
  return r;
}
VARIANT BoolRef(VARIANT_BOOL* b) {
  VARIANT r;
  r.vt = VT_BYREF | VT_BOOL;
  r.pboolVal = b;
  return r;
}
VARIANT Dispatch(IDispatch* d) {
  VARIANT r;
  r.vt = VT_DISPATCH;
  r.pdispVal = d;
  return r;
}
VARIANT Text(BSTR b) {
  VARIANT r;
  r.vt = VT_BSTR;
  r.bstrVal = b;
  return r;
}

int ThreadWindows() {
  int n = 0;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(), [](HWND, LPARAM count) -> BOOL { return ++*reinterpret_cast<int*>(count), TRUE; },
      reinterpret_cast<LPARAM>(&n));
  return n;
}

// Addresses the host handed to the default browser, for the scope.
struct ShellRecorder {
  std::vector<std::wstring> opened;
  ShellRecorder() {
    BrowserHost::SetShellOpenerForTesting([this](const std::wstring& url) { opened.push_back(url); });
  }
  ~ShellRecorder() { BrowserHost::SetShellOpenerForTesting(nullptr); }
};

class BrowserHostTest : public ::testing::Test {
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
    parent = ::CreateWindowExW(0, MAKEINTATOM(cls), L"parent", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                               0, 600, 400, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(parent);
  }
  void TearDown() override {
    host.Destroy();
    if (parent) ::DestroyWindow(parent);
    EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0);
  }

  win::OleScope ole;
  HWND parent = nullptr;
  Recorder events;
  BrowserHost host;
  const RECT rc{-2, -2, 500, 300};
  const std::wstring home = win::W(product::MusicHome());
};

TEST_F(BrowserHostTest, CreateAndDestroyRepeatedlyReleaseEverything) {
  EXPECT_FALSE(host.Create(nullptr, rc, &events, home));
  for (int round = 0; round < 4; ++round) {
    ASSERT_TRUE(host.Create(parent, rc, &events, home)) << round;
    EXPECT_TRUE(host.IsCreated());
    EXPECT_FALSE(host.Create(parent, rc, &events, home)) << "a second control over the first";
    EXPECT_GT(BrowserHost::LiveObjectsForTesting(), 0);
    ASSERT_NE(::GetWindow(parent, GW_CHILD), nullptr);
    auto browser = win::ComPtr<IWebBrowser2>::Retain(host.Browser());
    for (int i = 0; i < 50; ++i) host.SetRect(RECT{-i, -i, 400 + i, 300 + i});

    host.Destroy();
    EXPECT_FALSE(host.IsCreated());
    EXPECT_EQ(host.Browser(), nullptr);
    EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0);
    EXPECT_EQ(::GetWindow(parent, GW_CHILD), nullptr) << "the control closed its window";
    // Ours was the last reference: the host kept none, however often it moved.
    EXPECT_EQ(browser.detach()->Release(), 0u);
    host.Destroy();  // twice is harmless
  }
  {
    BrowserHost scoped;
    ASSERT_TRUE(scoped.Create(parent, rc, nullptr, home));
  }
  EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0);
}

TEST_F(BrowserHostTest, ParentWindowEndingFirstStillTearsDownCleanly) {
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  ASSERT_EQ(host.Navigate(L"about:blank"), S_OK);
  ::DestroyWindow(parent);
  parent = nullptr;
  host.Destroy();
  EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0);
}

TEST_F(BrowserHostTest, TheControlHearsFromItsSiteThatTheHostIsDpiAware) {
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  EXPECT_NE(host.HostFlagsForTesting() & DOCHOSTUIFLAG_DPI_AWARE, 0u);
}

TEST_F(BrowserHostTest, SetRectPlacesTheControlAlsoOutsideTheParent) {
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  EXPECT_RECT(ChildRect(parent), rc);
  // Where the hidden statistics browser sits: out of sight, no size.
  const RECT hidden{-10, -10, -10, -10};
  host.SetRect(hidden);
  EXPECT_RECT(ChildRect(parent), hidden);
  const RECT beyond{-2, -2, 998, 674};
  host.SetRect(beyond);
  EXPECT_RECT(ChildRect(parent), beyond);
}

TEST_F(BrowserHostTest, NavigateReachesTheMusicHostAndReportsDownloads) {
  ASSERT_TRUE(testsupport::standin::Reset());
  EXPECT_EQ(host.Navigate(L"about:blank"), E_UNEXPECTED) << "no control yet";
  ASSERT_TRUE(host.Create(parent, rc, &events, home));

  ASSERT_EQ(host.Navigate(win::W(product::MusicHome())), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return events.Count(L"complete") == 1 && Contains(RequestPaths("music"), "/"); }));
  EXPECT_EQ(events.log.front(), L"begin");

  ASSERT_EQ(host.Navigate(win::W(product::MusicNoAutoplay())), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return events.Count(L"complete") == 2; }));
  EXPECT_EQ(RequestPaths("music"), (std::vector<std::string>{"/", "/?autoplay=0"}));
  EXPECT_EQ(host.LocationURL(), win::W(product::MusicNoAutoplay()));
  EXPECT_EQ(events.Count(L"begin"), 2u);

  // A blank page asks no host.
  ASSERT_EQ(host.Navigate(L"about:blank"), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return events.Count(L"complete") == 3; }));
  EXPECT_EQ(host.LocationURL(), L"about:blank");
  EXPECT_EQ(RequestPaths("music").size(), 2u);
  EXPECT_TRUE(RequestPaths("web").empty());
  EXPECT_TRUE(RequestPaths("update").empty());
}

TEST_F(BrowserHostTest, AHandlerMayEndTheHostWhileItsEventRuns) {
  for (const wchar_t* ender : {L"begin", L"complete"}) {
    ASSERT_TRUE(host.Create(parent, rc, &events, home));
    events.then = [&](const std::wstring& what) {
      if (what == ender) host.Destroy();
    };
    host.Navigate(win::W(product::MusicHome()));
    ASSERT_TRUE(PumpUntil([&] { return !host.IsCreated(); })) << ender;
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0) << ender;
    events.then = nullptr;
  }
}

TEST_F(BrowserHostTest, DocumentCompleteArgumentsAndTopLevelTest) {
  BrowserHost other;
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  ASSERT_TRUE(other.Create(parent, RECT{-10, -10, -10, -10}, nullptr, home));
  win::ComPtr<IDispatch> own;
  ASSERT_EQ(host.Browser()->QueryInterface(IID_IDispatch, own.put_void()), S_OK);
  EXPECT_TRUE(host.IsTopLevel(own.get()));
  EXPECT_FALSE(host.IsTopLevel(other.Browser()));
  EXPECT_FALSE(other.IsTopLevel(own.get()));
  EXPECT_FALSE(host.IsTopLevel(nullptr));

  // Without an HTML engine the browser completes no document, so call our
  // sink the way the browser does: through its connection point, with the
  // arguments in reverse order and the address by reference.
  win::ComPtr<IDispatch> sink = SinkOf(host);
  ASSERT_TRUE(sink);

  win::Variant url(std::wstring(L"http://example.invalid/frame.html"));
  VARIANT args[2];
  args[1].vt = VT_DISPATCH;
  args[1].pdispVal = other.Browser();
  args[0].vt = VT_BYREF | VT_VARIANT;
  args[0].pvarVal = url.get();
  DISPPARAMS params{args, nullptr, 2, 0};
  ASSERT_EQ(sink->Invoke(DISPID_DOCUMENTCOMPLETE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                         nullptr, nullptr),
            S_OK);
  ASSERT_EQ(events.log, std::vector<std::wstring>{L"document http://example.invalid/frame.html"});
  EXPECT_FALSE(host.IsTopLevel(events.lastDisp)) << "a frame's document";

  args[1].pdispVal = own.get();
  ASSERT_EQ(sink->Invoke(DISPID_DOCUMENTCOMPLETE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                         nullptr, nullptr),
            S_OK);
  EXPECT_TRUE(host.IsTopLevel(events.lastDisp));

  // A sink left over after the host ended delivers nothing.
  host.Destroy();
  events.log.clear();
  EXPECT_EQ(sink->Invoke(DISPID_DOWNLOADBEGIN, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                         nullptr, nullptr),
            S_OK);
  EXPECT_TRUE(events.log.empty());
}

TEST_F(BrowserHostTest, SilentRoundTrips) {
  host.SetSilent(true);
  EXPECT_FALSE(host.Silent()) << "no control yet";
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  host.SetSilent(true);
  EXPECT_TRUE(host.Silent());
  host.SetSilent(false);
  EXPECT_FALSE(host.Silent());
}

// Binding needs an HTML document, which the control yields only with an
// HTML engine; without one the document is missing and M_Dom stays empty.
TEST_F(BrowserHostTest, DocumentBindingFollowsTheShownDocument) {
  EXPECT_TRUE(host.RaiseContextMenuForTesting()) << "nothing bound, nothing suppressed";
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  for (const std::wstring& address : {std::wstring(L"about:blank"), win::W(product::MusicNoAutoplay())}) {
    const size_t before = events.Count(L"complete");
    ASSERT_EQ(host.Navigate(address), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events.Count(L"complete") > before; }));
    win::ComPtr<IDispatch> document;
    host.Browser()->get_Document(document.put());
    host.BindDocument();
    if (document) {
      EXPECT_TRUE(host.HasBoundDocument()) << address;
      EXPECT_FALSE(host.RaiseContextMenuForTesting()) << address;
    } else {
      EXPECT_FALSE(host.HasBoundDocument()) << address;
      EXPECT_TRUE(host.RaiseContextMenuForTesting()) << address;
      EXPECT_EQ(host.BodyText(), L"");
    }
  }
  host.Destroy();
  EXPECT_FALSE(host.HasBoundDocument());
  EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0) << "the document's sink went with the host";
}

TEST_F(BrowserHostTest, FocusGoesIntoTheControlAndOnlyItsKeysAreOffered) {
  MSG key{parent, WM_KEYDOWN, VK_TAB, 0};
  EXPECT_FALSE(host.TranslateAccelerator(key)) << "no control yet";
  EXPECT_FALSE(host.Focus());
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  ::ShowWindow(parent, SW_SHOW);
  ::SetFocus(parent);
  ASSERT_TRUE(host.Focus());
  HWND focus = ::GetFocus();
  ASSERT_TRUE(focus == host.Window() || ::IsChild(host.Window(), focus));

  const long before = BrowserHost::KeysOfferedForTesting();
  EXPECT_FALSE(host.TranslateAccelerator(key)) << "a key of another window";
  MSG click{focus, WM_LBUTTONDOWN, 0, 0};
  EXPECT_FALSE(host.TranslateAccelerator(click));
  EXPECT_EQ(BrowserHost::KeysOfferedForTesting(), before);
  // Tab is the page's to handle or not; either way the control was asked.
  MSG own{focus, WM_KEYDOWN, VK_TAB, 0};
  host.TranslateAccelerator(own);
  EXPECT_EQ(BrowserHost::KeysOfferedForTesting(), before + 1);
}

// Wine's engine raises no new-window or download event and has no page to
// navigate from, so the sink is called as the engine calls it.
TEST_F(BrowserHostTest, PageEventsFollowThePolicyAndNoWindowOpensInTheClient) {
  ShellRecorder shell;
  BrowserHost frame;  // stands in for a frame's browser object
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  ASSERT_TRUE(frame.Create(parent, RECT{-10, -10, -10, -10}, nullptr, home));
  win::ComPtr<IDispatch> own, sink = SinkOf(host);
  ASSERT_TRUE(sink);
  ASSERT_EQ(host.Browser()->QueryInterface(IID_IDispatch, own.put_void()), S_OK);

  auto beforeNavigate = [&](IDispatch* browser, const std::wstring& address) {
    win::Variant url(address), flags, target, post, headers;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    EXPECT_EQ(Raise(sink.get(), DISPID_BEFORENAVIGATE2,
                    {Dispatch(browser), ByRef(url.get()), ByRef(flags.get()), ByRef(target.get()), ByRef(post.get()),
                     ByRef(headers.get()), BoolRef(&cancel)}),
              S_OK);
    return cancel != VARIANT_FALSE;
  };
  EXPECT_FALSE(beforeNavigate(own.get(), home + L"/?autoplay=0"));
  EXPECT_FALSE(beforeNavigate(own.get(), L"about:blank"));
  EXPECT_TRUE(beforeNavigate(own.get(), L"http://127.0.0.1:18081/ad"));
  // Wine names files by their path, Internet Explorer by a file: address.
  EXPECT_TRUE(beforeNavigate(own.get(), L"C:\\windows\\win.ini"));
  EXPECT_TRUE(beforeNavigate(own.get(), L"file:///C:/windows/win.ini"));
  EXPECT_TRUE(beforeNavigate(own.get(), L"javascript:alert(1)"));
  EXPECT_EQ(shell.opened, std::vector<std::wstring>{L"http://127.0.0.1:18081/ad"});
  // A frame of the page loads what the site wants.
  EXPECT_FALSE(beforeNavigate(frame.Browser(), L"http://127.0.0.1:18081/ad"));
  EXPECT_FALSE(beforeNavigate(frame.Browser(), L"file:///C:/windows/win.ini"));
  EXPECT_EQ(shell.opened.size(), 1u);

  const int windows = ThreadWindows();
  auto newWindow = [&](const wchar_t* address) {
    win::Bstr url(address), context(home);
    IDispatch* created = nullptr;
    VARIANT ppDisp;
    ppDisp.vt = VT_BYREF | VT_DISPATCH;
    ppDisp.ppdispVal = &created;
    VARIANT flags;
    flags.vt = VT_I4;
    flags.lVal = 0;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    EXPECT_EQ(Raise(sink.get(), DISPID_NEWWINDOW3, {ppDisp, BoolRef(&cancel), flags, Text(context.get()), Text(url.get())}),
              S_OK);
    EXPECT_EQ(created, nullptr) << "the host made a browser for it";
    return cancel != VARIANT_FALSE;
  };
  EXPECT_TRUE(newWindow(L"https://127.0.0.1:18082/popup"));
  EXPECT_TRUE(newWindow(L"http://music.host@evil/"));
  EXPECT_TRUE(newWindow(L"about:blank"));
  EXPECT_TRUE(newWindow(L"file:///C:/windows/win.ini"));
  EXPECT_EQ(shell.opened, (std::vector<std::wstring>{L"http://127.0.0.1:18081/ad", L"https://127.0.0.1:18082/popup"}));
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(ThreadWindows(), windows);

  auto fileDownload = [&](VARIANT_BOOL isDocument) {
    VARIANT document;
    document.vt = VT_BOOL;
    document.boolVal = isDocument;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    EXPECT_EQ(Raise(sink.get(), DISPID_FILEDOWNLOAD, {document, BoolRef(&cancel)}), S_OK);
    return cancel != VARIANT_FALSE;
  };
  EXPECT_TRUE(fileDownload(VARIANT_FALSE)) << "a file to save";
  EXPECT_FALSE(fileDownload(VARIANT_TRUE)) << "a page to show";
  EXPECT_EQ(shell.opened.size(), 2u);
}

// What the control learns when it asks its site, as it asks: the ambient
// download control through the site's IDispatch, which keys are its own
// through the UI handler, and the security manager through its
// IServiceProvider.
TEST_F(BrowserHostTest, TheSiteTellsTheEngineToRunAndFetchNoActiveXAndKeepsItsWindowKeys) {
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  win::ComPtr<IOleObject> ole;
  win::ComPtr<IOleClientSite> site;
  ASSERT_EQ(host.Browser()->QueryInterface(IID_IOleObject, ole.put_void()), S_OK);
  ASSERT_EQ(ole->GetClientSite(site.put()), S_OK);

  win::ComPtr<IDispatch> ambient;
  ASSERT_EQ(site.As(ambient), S_OK);
  DISPPARAMS none{};
  win::Variant answer;
  ASSERT_EQ(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                            answer.put(), nullptr, nullptr),
            S_OK);
  ASSERT_EQ(answer.ref().vt, VT_I4);
  const LONG dl = answer.ref().lVal;
  EXPECT_EQ(dl & (DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_JAVA),
            DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_JAVA);
  // The page itself still loads whole, and the notice browser is not silent.
  EXPECT_EQ(dl & (DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS), DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS);
  EXPECT_EQ(dl & (DLCTL_NO_SCRIPTS | DLCTL_NO_FRAMEDOWNLOAD | DLCTL_NOFRAMES | DLCTL_SILENT | DLCTL_DOWNLOADONLY), 0);
  EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERAGENT, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                            answer.put(), nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);

  win::ComPtr<IServiceProvider> services;
  ASSERT_EQ(site.As(services), S_OK);
  win::ComPtr<IInternetSecurityManager> security;
  ASSERT_EQ(services->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager, security.put_void()),
            S_OK);
  win::ComPtr<IUnknown> other;
  EXPECT_EQ(services->QueryService(IID_IDocHostUIHandler, IID_IDocHostUIHandler, other.put_void()), E_NOINTERFACE);
  EXPECT_FALSE(other);

  // Keys the engine would act on itself, asked as it asks: Ctrl+N (a
  // browser window of its own), Ctrl+O and Ctrl+L (its address dialog) are
  // kept from it; Ctrl+C, Tab and a plain N are the page's.
  win::ComPtr<IDocHostUIHandler> ui;
  ASSERT_EQ(site.As(ui), S_OK);
  BYTE keys[256] = {};
  ASSERT_TRUE(::GetKeyboardState(keys));
  auto asked = [&](bool ctrl, WPARAM vk) {
    BYTE held[256];
    std::memcpy(held, keys, sizeof held);
    held[VK_CONTROL] = ctrl ? 0x80 : 0;
    ::SetKeyboardState(held);
    MSG msg{host.Window(), WM_KEYDOWN, vk, 0};
    const HRESULT hr = ui->TranslateAccelerator(&msg, nullptr, 0);
    ::SetKeyboardState(keys);
    return hr;
  };
  EXPECT_EQ(asked(true, 'N'), S_OK);
  EXPECT_EQ(asked(true, 'O'), S_OK);
  EXPECT_EQ(asked(true, 'L'), S_OK);
  EXPECT_EQ(asked(true, 'C'), S_FALSE);
  EXPECT_EQ(asked(false, 'N'), S_FALSE);
  EXPECT_EQ(asked(false, VK_TAB), S_FALSE);

  const std::wstring page = home + L"/";
  auto action = [&](DWORD what, DWORD* policy) {
    *policy = URLPOLICY_ALLOW;
    return security->ProcessUrlAction(page.c_str(), what, reinterpret_cast<BYTE*>(policy), sizeof *policy, nullptr,
                                      0, PUAF_DEFAULT, 0);
  };
  DWORD policy = 0;
  for (DWORD refused : {URLACTION_ACTIVEX_RUN, URLACTION_SCRIPT_SAFE_ACTIVEX, URLACTION_DOWNLOAD_SIGNED_ACTIVEX,
                        URLACTION_DOWNLOAD_UNSIGNED_ACTIVEX, URLACTION_SHELL_FILE_DOWNLOAD,
                        URLACTION_SHELL_EXECUTE_HIGHRISK}) {
    EXPECT_EQ(action(refused, &policy), S_FALSE) << std::hex << refused;
    EXPECT_EQ(policy, static_cast<DWORD>(URLPOLICY_DISALLOW)) << std::hex << refused;
  }
  // The zones keep the rest: scripts run, the pop-up blocker stays on.
  for (DWORD zones : {URLACTION_SCRIPT_RUN, URLACTION_SHELL_POPUPMGR, URLACTION_CROSS_DOMAIN_DATA}) {
    EXPECT_EQ(action(zones, &policy), INET_E_DEFAULT_ACTION) << std::hex << zones;
  }
  DWORD zone = 0;
  EXPECT_EQ(security->MapUrlToZone(page.c_str(), &zone, 0), INET_E_DEFAULT_ACTION);
}

}  // namespace
