// The browser host with the real control: its life, its events, and where
// it lets the window go.
#include "client/mainwindow/browserhost.h"

#include <exdispid.h>

#include <gtest/gtest.h>
#include <mshtmdid.h>

#include <string>
#include <utility>
#include <vector>

#include "client/mainwindow/comevents.h"
#include "tests/mainwindow/browserfixture.h"
#include "tests/support/testsupport.h"

namespace {

using namespace browsertest;
using testsupport::standin::RequestPaths;

struct Recorder : BrowserHost::Events {
  std::vector<std::wstring> log;
  IDispatch* lastDisp = nullptr;
  std::function<void(const std::wstring&)> then;  // after each download event
  void OnDownloadBegin() override { Note(L"begin"); }
  void OnDownloadComplete() override { Note(L"complete"); }
  void OnBlanked() override { log.push_back(L"blanked"); }
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

int ThreadWindows() {
  int n = 0;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(), [](HWND, LPARAM count) -> BOOL { return ++*reinterpret_cast<int*>(count), TRUE; },
      reinterpret_cast<LPARAM>(&n));
  return n;
}

class BrowserHostTest : public HostFixture {
 protected:
  Recorder events;
  const BrowserHost::Scope home = MusicScope();  // the music site
};

TEST_F(BrowserHostTest, CreateAndDestroyRepeatedlyReleaseEverything) {
  EXPECT_FALSE(host.Create(nullptr, rc, &events, home));
  for (int round = 0; round < 4; ++round) {
    ASSERT_TRUE(host.Create(parent, rc, &events, home)) << round;
    EXPECT_TRUE(host.IsCreated());
    EXPECT_FALSE(host.Create(parent, rc, &events, home)) << "a second control over the first";
    EXPECT_GT(browserhost_testing::LiveObjects(), 0);
    ASSERT_NE(::GetWindow(parent, GW_CHILD), nullptr);
    auto browser = win::ComPtr<IWebBrowser2>::Retain(host.Browser());
    for (int i = 0; i < 50; ++i) host.SetRect(RECT{-i, -i, 400 + i, 300 + i});

    host.Destroy();
    EXPECT_FALSE(host.IsCreated());
    EXPECT_EQ(host.Browser(), nullptr);
    EXPECT_EQ(browserhost_testing::LiveObjects(), 0);
    EXPECT_EQ(::GetWindow(parent, GW_CHILD), nullptr) << "the control closed its window";
    // Ours was the last reference: the host kept none, however often it moved.
    EXPECT_EQ(browser.detach()->Release(), 0u);
    host.Destroy();  // twice is harmless
  }
  {
    BrowserHost scoped;
    ASSERT_TRUE(scoped.Create(parent, rc, nullptr, home));
  }
  EXPECT_EQ(browserhost_testing::LiveObjects(), 0);
}

TEST_F(BrowserHostTest, ParentWindowEndingFirstStillTearsDownCleanly) {
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  ASSERT_EQ(host.Navigate(L"about:blank"), S_OK);
  ::DestroyWindow(parent);
  parent = nullptr;
  host.Destroy();
  EXPECT_EQ(browserhost_testing::LiveObjects(), 0);
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
    EXPECT_EQ(browserhost_testing::LiveObjects(), 0) << ender;
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

// What the bound document's oncontextmenu handler answers, called as the
// document calls it; true (the menu shows) when nothing is bound.
bool RaiseContextMenu(BrowserHost& host) {
  constexpr GUID kHtmlDocumentEvents = {0x3050f260, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};
  win::ComPtr<IDispatch> document, handler;
  if (host.HasBoundDocument() && SUCCEEDED(host.Browser()->get_Document(document.put())))
    handler = SinkOf(document.get(), kHtmlDocumentEvents);
  if (!handler) return true;
  DISPPARAMS none{};
  win::Variant result;
  handler->Invoke(DISPID_HTMLDOCUMENTEVENTS_ONCONTEXTMENU, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                  result.get(), nullptr, nullptr);
  return !(result.ref().vt == VT_BOOL && result.ref().boolVal == VARIANT_FALSE);
}

// Binding needs an HTML document, which the control yields only with an
// HTML engine; without one the document is missing and M_Dom stays empty.
TEST_F(BrowserHostTest, DocumentBindingFollowsTheShownDocument) {
  EXPECT_TRUE(RaiseContextMenu(host)) << "nothing bound, nothing suppressed";
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
      EXPECT_FALSE(RaiseContextMenu(host)) << address;
    } else {
      EXPECT_FALSE(host.HasBoundDocument()) << address;
      EXPECT_TRUE(RaiseContextMenu(host)) << address;
      EXPECT_EQ(host.BodyText(), L"");
    }
  }
  host.Destroy();
  EXPECT_FALSE(host.HasBoundDocument());
  EXPECT_EQ(browserhost_testing::LiveObjects(), 0) << "the document's sink went with the host";
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

  const long before = browserhost_testing::KeysOffered();
  EXPECT_FALSE(host.TranslateAccelerator(key)) << "a key of another window";
  MSG click{focus, WM_LBUTTONDOWN, 0, 0};
  EXPECT_FALSE(host.TranslateAccelerator(click));
  EXPECT_EQ(browserhost_testing::KeysOffered(), before);
  // Tab is the page's to handle or not; either way the control was asked.
  MSG own{focus, WM_KEYDOWN, VK_TAB, 0};
  host.TranslateAccelerator(own);
  EXPECT_EQ(browserhost_testing::KeysOffered(), before + 1);
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

  auto beforeNavigate = [&](IDispatch* browser, const std::wstring& address, bool posted = false) {
    win::Variant url(address), flags, target, post, headers;
    if (posted) {
      post.get()->vt = VT_ARRAY | VT_UI1;
      post.get()->parray = ::SafeArrayCreateVector(VT_UI1, 0, 3);
    }
    VARIANT_BOOL cancel = VARIANT_FALSE;
    EXPECT_EQ(Raise(sink.get(), DISPID_BEFORENAVIGATE2,
                    {Dispatch(browser), ByRef(url.get()), ByRef(flags.get()), ByRef(target.get()), ByRef(post.get()),
                     ByRef(headers.get()), BoolRef(&cancel)}),
              S_OK);
    return cancel != VARIANT_FALSE;
  };
  EXPECT_FALSE(beforeNavigate(own.get(), music + L"/?autoplay=0"));
  EXPECT_FALSE(beforeNavigate(own.get(), L"https://login.music.example.cn/"));
  EXPECT_FALSE(beforeNavigate(own.get(), L"about:blank"));
  EXPECT_TRUE(beforeNavigate(own.get(), L"http://127.0.0.1:18081/ad"));
  EXPECT_TRUE(beforeNavigate(own.get(), L"http://127.0.0.1:18081/a d"));
  EXPECT_TRUE(beforeNavigate(own.get(), L"http://127.0.0.1:18081/form", true)) << "a post goes nowhere";
  // Wine names files by their path, Internet Explorer by a file: address.
  EXPECT_TRUE(beforeNavigate(own.get(), L"C:\\windows\\win.ini"));
  EXPECT_TRUE(beforeNavigate(own.get(), L"file:///C:/windows/win.ini"));
  // A script link runs in the shown document: none of the site yet.
  EXPECT_TRUE(beforeNavigate(own.get(), L"javascript:alert(1)"));
  EXPECT_EQ(shell.opened, (std::vector<std::wstring>{L"http://127.0.0.1:18081/ad", L"http://127.0.0.1:18081/a%20d"}));
  // A frame of the page loads what the site wants.
  EXPECT_FALSE(beforeNavigate(frame.Browser(), L"http://127.0.0.1:18081/ad"));
  EXPECT_FALSE(beforeNavigate(frame.Browser(), L"file:///C:/windows/win.ini"));
  EXPECT_EQ(shell.opened.size(), 2u);

  const int windows = ThreadWindows();
  auto newWindow = [&](const wchar_t* address) {
    win::Bstr url(address), context(music);
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
  EXPECT_EQ(shell.opened.back(), L"https://127.0.0.1:18082/popup");
  EXPECT_EQ(shell.opened.size(), 3u);
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
  EXPECT_EQ(shell.opened.size(), 3u);
}

// Calls `then` at the control's first status text while it shows an
// address off the music site: the moment a redirect has moved it, before
// the events that follow (Wine raises NavigateError there, Internet
// Explorer NavigateComplete2 and DocumentComplete).
struct RedirectWatch : comevents::SinkReceiver {
  BrowserHost& host;
  std::function<void()> then;
  comevents::Connection connection;
  explicit RedirectWatch(BrowserHost& h) : host(h) { connection.Connect(h.Browser(), DIID_DWebBrowserEvents2, this); }
  HRESULT OnSinkInvoke(const IID&, DISPID id, DISPPARAMS*, VARIANT*) override {
    const std::wstring at = host.LocationURL();
    if (id == DISPID_STATUSTEXTCHANGE && then && at.rfind(win::W(product::MusicHome()), 0) != 0 && at != L"about:blank")
      std::exchange(then, nullptr)();
    return S_OK;
  }
};

// The music host answering with redirects to another host: whatever the
// event that shows the new address first, the window leaves it once,
// handing it on once (unencoded, spaces aside).
TEST_F(BrowserHostTest, AWindowMovedOffTheSiteLeavesAtOnce) {
  ASSERT_TRUE(testsupport::standin::Reset());
  const std::string elsewhere = "http://" + testsupport::standin::WebHost() + "/landing?x=%41";
  ASSERT_TRUE(testsupport::standin::Route(R"({"path": "/moved", "host": "music", "status": 302, )"
                                          R"("headers": {"Location": ")" + elsewhere + R"("}})"));
  ShellRecorder shell;
  ASSERT_TRUE(host.Create(parent, rc, &events, home));
  const std::wstring page = music + L"/", moved = music + L"/moved", away(elsewhere.begin(), elsewhere.end());
  // At the address, and the navigation's events handled.
  auto at = [&](const std::wstring& address) {
    const size_t before = events.Count(L"complete");
    return PumpUntil([&] { return host.LocationURL() == address && events.Count(L"complete") > before; });
  };

  // The client's own address: Wine ends the navigation in NavigateError.
  ASSERT_EQ(host.Navigate(moved), S_OK);
  ASSERT_TRUE(at(L"about:blank")) << host.LocationURL();
  EXPECT_EQ(shell.opened, std::vector<std::wstring>{away});
  EXPECT_EQ(events.Count(L"blanked"), 1u);

  // The page's own navigation (not the host's), in Internet Explorer's
  // order: back to the page the window showed.
  ASSERT_EQ(host.Navigate(page), S_OK);
  ASSERT_TRUE(at(page));
  win::ComPtr<IDispatch> own, sink = SinkOf(host);
  ASSERT_EQ(host.Browser()->QueryInterface(IID_IDispatch, own.put_void()), S_OK);
  RedirectWatch watch(host);
  win::Variant target(away);
  size_t handedAtComplete = 0;
  watch.then = [&] {
    Raise(sink.get(), DISPID_NAVIGATECOMPLETE2, {Dispatch(own.get()), ByRef(target.get())});
    handedAtComplete = shell.opened.size();
    Raise(sink.get(), DISPID_DOCUMENTCOMPLETE, {Dispatch(own.get()), ByRef(target.get())});
  };
  win::Bstr link(moved);
  win::Variant none;
  ASSERT_EQ(host.Browser()->Navigate(link.get(), none.get(), none.get(), none.get(), none.get()), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return !watch.then && host.LocationURL() == page; })) << host.LocationURL();
  EXPECT_EQ(handedAtComplete, 2u) << "NavigateComplete2 did not tell";
  EXPECT_EQ(shell.opened, (std::vector<std::wstring>{away, away}));
  EXPECT_EQ(events.Count(L"blanked"), 1u);
}

}  // namespace
