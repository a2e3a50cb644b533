#include "client/mainwindow/browserhost.h"

#include <exdispid.h>
#include <ocidl.h>

#include <gtest/gtest.h>
#include <mshtmhst.h>

#include <algorithm>
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
};

TEST_F(BrowserHostTest, CreateAndDestroyRepeatedlyReleaseEverything) {
  EXPECT_FALSE(host.Create(nullptr, rc, &events));
  for (int round = 0; round < 4; ++round) {
    ASSERT_TRUE(host.Create(parent, rc, &events)) << round;
    EXPECT_TRUE(host.IsCreated());
    EXPECT_FALSE(host.Create(parent, rc, &events)) << "a second control over the first";
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
    ASSERT_TRUE(scoped.Create(parent, rc, nullptr));
  }
  EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0);
}

TEST_F(BrowserHostTest, ParentWindowEndingFirstStillTearsDownCleanly) {
  ASSERT_TRUE(host.Create(parent, rc, &events));
  ASSERT_EQ(host.Navigate(L"about:blank"), S_OK);
  ::DestroyWindow(parent);
  parent = nullptr;
  host.Destroy();
  EXPECT_EQ(BrowserHost::LiveObjectsForTesting(), 0);
}

TEST_F(BrowserHostTest, TheControlHearsFromItsSiteThatTheHostIsDpiAware) {
  ASSERT_TRUE(host.Create(parent, rc, &events));
  EXPECT_NE(host.HostFlagsForTesting() & DOCHOSTUIFLAG_DPI_AWARE, 0u);
}

TEST_F(BrowserHostTest, SetRectPlacesTheControlAlsoOutsideTheParent) {
  ASSERT_TRUE(host.Create(parent, rc, &events));
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
  ASSERT_TRUE(host.Create(parent, rc, &events));

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
    ASSERT_TRUE(host.Create(parent, rc, &events));
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
  ASSERT_TRUE(host.Create(parent, rc, &events));
  ASSERT_TRUE(other.Create(parent, RECT{-10, -10, -10, -10}, nullptr));
  win::ComPtr<IDispatch> own;
  ASSERT_EQ(host.Browser()->QueryInterface(IID_IDispatch, own.put_void()), S_OK);
  EXPECT_TRUE(host.IsTopLevel(own.get()));
  EXPECT_FALSE(host.IsTopLevel(other.Browser()));
  EXPECT_FALSE(other.IsTopLevel(own.get()));
  EXPECT_FALSE(host.IsTopLevel(nullptr));

  // Without an HTML engine the browser completes no document, so call our
  // sink the way the browser does: through its connection point, with the
  // arguments in reverse order and the address by reference.
  win::ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(host.Browser()->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  win::ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put()), S_OK);
  win::ComPtr<IEnumConnections> list;
  ASSERT_EQ(point->EnumConnections(list.put()), S_OK);
  CONNECTDATA data{};
  ULONG got = 0;
  ASSERT_EQ(list->Next(1, &data, &got), S_OK);
  ASSERT_EQ(got, 1u);
  win::ComPtr<IDispatch> sink;
  ASSERT_EQ(data.pUnk->QueryInterface(IID_IDispatch, sink.put_void()), S_OK);
  // Wine's browser hands out its connections without a reference.
  if (!::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) data.pUnk->Release();

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
  ASSERT_TRUE(host.Create(parent, rc, &events));
  host.SetSilent(true);
  EXPECT_TRUE(host.Silent());
  host.SetSilent(false);
  EXPECT_FALSE(host.Silent());
}

// Binding needs an HTML document, which the control yields only with an
// HTML engine; without one the document is missing and M_Dom stays empty.
TEST_F(BrowserHostTest, DocumentBindingFollowsTheShownDocument) {
  EXPECT_TRUE(host.RaiseContextMenuForTesting()) << "nothing bound, nothing suppressed";
  ASSERT_TRUE(host.Create(parent, rc, &events));
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

TEST_F(BrowserHostTest, OnlyKeyboardMessagesOfTheControlAreOffered) {
  MSG key{parent, WM_KEYDOWN, VK_TAB, 0};
  EXPECT_FALSE(host.TranslateAccelerator(key)) << "no control yet";
  ASSERT_TRUE(host.Create(parent, rc, &events));
  EXPECT_FALSE(host.TranslateAccelerator(key)) << "a key of another window";
  MSG click{::GetWindow(parent, GW_CHILD), WM_LBUTTONDOWN, 0, 0};
  EXPECT_FALSE(host.TranslateAccelerator(click));
}

}  // namespace
