#include "client/mainwindow/browserhost.h"

#include <exdispid.h>
#include <mshtmdid.h>
#include <mshtml.h>
#include <ocidl.h>
#include <oleidl.h>

#include <new>
#include <optional>
#include <utility>

#include "client/mainwindow/browserprobe.h"
#include "client/mainwindow/browsersite.h"
#include "client/mainwindow/comevents.h"
#include "client/mainwindow/defaultbrowser.h"
#include "client/mainwindow/enginerestrictions.h"
#include "client/mainwindow/pageguard.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"

namespace {

// Not in every SDK's import libraries (mingw's lacks it).
constexpr GUID kHtmlDocumentEvents = {0x3050f260, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};

}  // namespace

std::vector<CLSID> BrowserHost::ClassIds(std::wstring_view text) {
  std::vector<CLSID> ids;
  while (!text.empty()) {
    const std::size_t space = text.find(L' ');
    std::wstring one(text.substr(0, space));
    text.remove_prefix(space == std::wstring_view::npos ? text.size() : space + 1);
    CLSID id{};
    if (!one.empty() && SUCCEEDED(::CLSIDFromString(one.c_str(), &id))) ids.push_back(id);
  }
  return ids;
}

class BrowserHost::Impl final : public comevents::SinkReceiver {
 public:
  ~Impl() { Destroy(); }

  bool Create(HWND parent, const RECT& rc, Events* events, Scope scope) {
    if (ole_ || !parent) return false;
    enginerestrictions::HardenEngine();
    events_ = events;
    parent_ = parent;
    guard_.emplace(scope.site);
    *site_.put() = BrowserSite::Create(parent, rc, std::move(scope.site), std::move(scope.controls));
    if (!site_) return false;
    if (!Activate(parent, rc)) {
      Destroy();
      return false;
    }
    return true;
  }

  void Destroy() {
    CancelReturn();
    UnbindDocument();
    browserEvents_.Disconnect();
    if (inPlace_) inPlace_->InPlaceDeactivate();
    if (site_) site_->ClearActiveObject();
    if (ole_) {
      ole_->SetClientSite(nullptr);
      ole_->Close(OLECLOSE_NOSAVE);
    }
    active_.reset();
    inPlace_.reset();
    browser_.reset();
    ole_.reset();
    site_.reset();
    guard_.reset();
    ownPending_ = false;
    events_ = nullptr;
    parent_ = nullptr;
  }

  bool IsCreated() const { return static_cast<bool>(browser_); }

  HRESULT Navigate(const std::wstring& url, pageguard::Origin origin) {
    if (!browser_) return E_UNEXPECTED;
    win::Bstr address(url);
    if (!address.get()) return E_OUTOFMEMORY;
    win::Variant none;
    // Began here, not only at its BeforeNavigate2: the guard must not stay
    // waiting for a way back that raised none.
    guard_->Began(origin);
    ownPending_ = true;
    // Events arrive inside Navigate, and their handler may end this host.
    auto browser = win::ComPtr<IWebBrowser2>::Retain(browser_.get());
    return browser->Navigate(address.get(), none.get(), none.get(), none.get(), none.get());
  }

  void SetSilent(bool silent) {
    if (browser_) browser_->put_Silent(silent ? VARIANT_TRUE : VARIANT_FALSE);
  }

  bool Silent() const {
    VARIANT_BOOL silent = VARIANT_FALSE;
    return browser_ && SUCCEEDED(browser_->get_Silent(&silent)) && silent != VARIANT_FALSE;
  }

  void SetRect(const RECT& rc) {
    if (site_) site_->SetRect(rc);
    if (inPlace_) inPlace_->SetObjectRects(&rc, &rc);
  }

  IWebBrowser2* Browser() const { return browser_.get(); }

  bool IsTopLevel(IDispatch* disp) const { return browser_ && comevents::SameObject(disp, browser_.get()); }

  std::wstring LocationURL() const {
    win::Bstr url;
    if (!browser_ || FAILED(browser_->get_LocationURL(url.put()))) return {};
    return url.str();
  }

  std::wstring BodyText() const {
    win::ComPtr<IHTMLDocument2> doc = CurrentHtmlDocument();
    if (!doc) return {};
    win::ComPtr<IHTMLElement> body;
    if (FAILED(doc->get_body(body.put())) || !body) return {};
    win::Bstr text;
    if (FAILED(body->get_innerText(text.put()))) return {};
    return text.str();
  }

  void BindDocument() {
    // Always a fresh connection: the browser may hand out the same
    // document object again after a navigation.
    UnbindDocument();
    win::ComPtr<IHTMLDocument2> doc = CurrentHtmlDocument();
    if (!doc) return;
    if (SUCCEEDED(domEvents_.Connect(doc.get(), kHtmlDocumentEvents, this))) dom_ = std::move(doc);
  }

  bool HasBoundDocument() const { return static_cast<bool>(dom_); }

  HWND Window() const {
    HWND own = nullptr;
    if (!inPlace_ || FAILED(inPlace_->GetWindow(&own))) return nullptr;
    return own;
  }

  bool Focus() {
    HWND own = Window();
    if (!own || !site_ || !ole_) return false;
    // The engine takes the focus itself when it becomes UI-active; one that
    // already is (or that keeps it to in-place activation, as Wine's does)
    // gets it on its window.
    RECT pos = site_->Rect();
    ole_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site_->ClientSite(), 0, parent_, &pos);
    if (!HasFocus()) ::SetFocus(own);
    return HasFocus();
  }

  bool TranslateAccelerator(MSG& msg) {
    if (!inPlace_ || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    // Only keys meant for this control: a second browser must not take
    // the keys of the first, nor of any other window.
    HWND own = Window();
    if (!own || (msg.hwnd != own && !::IsChild(own, msg.hwnd))) return false;
    // The object the control made active, else the control itself (which
    // hands the keys on to its document).
    auto target = win::ComPtr<IOleInPlaceActiveObject>::Retain(site_ && site_->ActiveObject() ? site_->ActiveObject()
                                                                                                : active_.get());
    if (!target) return false;
    browserprobe::KeyOffered();
    return target->TranslateAccelerator(&msg) == S_OK;
  }

  HRESULT OnSinkInvoke(const IID& events, DISPID id, DISPPARAMS* params, VARIANT* result) override {
    if (events == kHtmlDocumentEvents) {
      if (id == DISPID_HTMLDOCUMENTEVENTS_ONCONTEXTMENU && result) {
        // M_Dom_oncontextmenu: false cancels the browser's context menu.
        ::VariantClear(result);
        result->vt = VT_BOOL;
        result->boolVal = VARIANT_FALSE;
      }
      return S_OK;
    }
    // Where the browser may go is decided here, for every owner.
    switch (id) {
      case DISPID_BEFORENAVIGATE2:
        BeforeNavigate2(params);
        return S_OK;
      case DISPID_NEWWINDOW3:
        NewWindow3(params);
        return S_OK;
      case DISPID_FILEDOWNLOAD:
        FileDownload(params);
        return S_OK;
      case DISPID_NAVIGATECOMPLETE2:
      case DISPID_NAVIGATEERROR:
      case DISPID_DOCUMENTCOMPLETE:
        if (IsTopLevel(comevents::DispatchArg(params, 0))) Judge();
        break;
      case DISPID_DOWNLOADCOMPLETE:
        Judge();
        break;
      default:
        break;
    }
    if (!events_) return S_OK;
    switch (id) {
      case DISPID_DOWNLOADBEGIN:
        events_->OnDownloadBegin();
        break;
      case DISPID_DOWNLOADCOMPLETE:
        events_->OnDownloadComplete();
        break;
      case DISPID_DOCUMENTCOMPLETE:
        events_->OnDocumentComplete(comevents::DispatchArg(params, 0), comevents::TextArg(params, 1));
        break;
      default:
        break;
    }
    return S_OK;
  }

 private:
  bool HasFocus() const {
    HWND own = Window();
    HWND focus = ::GetFocus();
    return own && focus && (focus == own || ::IsChild(own, focus));
  }

  // The window stays where it was when one is cancelled.
  void BeforeNavigate2(DISPPARAMS* params) {
    VARIANT_BOOL* cancel = comevents::BoolRefArg(params, 6);
    if (!cancel || !guard_) return;
    // Frames inside the page load what the site wants.
    IDispatch* browser = comevents::DispatchArg(params, 0);
    if (browser && !IsTopLevel(browser)) return;
    const std::u16string url = win::U(comevents::TextArg(params, 1));
    const std::u16string shown = win::U(LocationURL());
    const navpolicy::Navigation navigation{url, navpolicy::Kind::kTopLevel, comevents::HasValueArg(params, 4), shown};
    const navpolicy::Verdict verdict = navpolicy::ForNavigation(navigation, guard_->site());
    const bool own = std::exchange(ownPending_, false);
    switch (verdict) {
      case navpolicy::Verdict::kStay:
        // A script address runs in the shown document and begins nothing.
        if (!own && !navpolicy::IsScriptAddress(url)) guard_->Began(pageguard::Origin::kPage);
        return;
      case navpolicy::Verdict::kDefaultBrowser:
        *cancel = VARIANT_TRUE;
        defaultbrowser::Open(win::W(navpolicy::Encoded(url)));
        return;
      case navpolicy::Verdict::kRefuse:
        *cancel = VARIANT_TRUE;
        return;
    }
  }

  // No window of the engine ever opens inside the client.
  void NewWindow3(DISPPARAMS* params) {
    VARIANT_BOOL* cancel = comevents::BoolRefArg(params, 1);
    if (!cancel || !guard_) return;
    *cancel = VARIANT_TRUE;
    const std::u16string url = win::U(comevents::TextArg(params, 4));
    if (navpolicy::ForNewWindow(url, guard_->site()) == navpolicy::Verdict::kDefaultBrowser)
      defaultbrowser::Open(win::W(navpolicy::Encoded(url)));
  }

  // A file to save, not a document to show (older engines pass no first
  // argument, and fire this only for files).
  void FileDownload(DISPPARAMS* params) {
    VARIANT_BOOL* cancel = comevents::BoolRefArg(params, params && params->cArgs >= 2 ? 1 : 0);
    if (!cancel) return;
    const VARIANT* document = params->cArgs >= 2 ? comevents::Arg(params, 0) : nullptr;
    const bool isDocument = document && document->vt == VT_BOOL && document->boolVal != VARIANT_FALSE;
    if (!isDocument) *cancel = VARIANT_TRUE;
  }

  // The window's address, read again whenever a navigation may have shown
  // a page: a redirect raises no BeforeNavigate2 at its new address.
  void Judge() {
    if (!guard_ || !browser_ || returning_) return;
    const pageguard::Step step = guard_->Shown(win::U(LocationURL()));
    if (!step.leave) return;
    auto browser = win::ComPtr<IWebBrowser2>::Retain(browser_.get());
    browser->Stop();
    if (!step.handOff.empty()) defaultbrowser::Open(win::W(step.handOff));
    goTo_ = win::W(step.go);
    blank_ = step.blank;
    // The way back starts once the engine has finished this event and the
    // ones it already queued for the page that is left: on a timer of the
    // control's window whose id is this host.
    returning_ = ::SetTimer(parent_, TimerId(), 0, &Impl::ReturnTimerProc) != 0;
    if (!returning_) GoBack();
  }

  static void CALLBACK ReturnTimerProc(HWND window, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(window, id);
    Impl* impl = reinterpret_cast<Impl*>(id);
    impl->returning_ = false;
    impl->GoBack();
  }

  UINT_PTR TimerId() const { return reinterpret_cast<UINT_PTR>(this); }

  void CancelReturn() {
    if (returning_) ::KillTimer(parent_, TimerId());
    returning_ = false;
  }

  void GoBack() {
    if (!browser_) return;
    Events* events = blank_ ? events_ : nullptr;
    Navigate(goTo_, pageguard::Origin::kReturn);
    // May end this host: the last thing done.
    if (events) events->OnBlanked();
  }

  bool Activate(HWND parent, const RECT& rc) {
    if (FAILED(::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, ole_.put_void())) ||
        !ole_)
      return false;
    if (FAILED(ole_->SetClientSite(site_->ClientSite()))) return false;
    ::OleRun(ole_.get());
    RECT pos = rc;
    if (FAILED(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_->ClientSite(), 0, parent, &pos))) return false;
    if (FAILED(ole_.As(browser_)) || FAILED(ole_.As(inPlace_))) return false;
    ole_.As(active_);  // keyboard only; the control works without it
    if (FAILED(browserEvents_.Connect(browser_.get(), DIID_DWebBrowserEvents2, this))) return false;
    inPlace_->SetObjectRects(&pos, &pos);
    return true;
  }

  win::ComPtr<IHTMLDocument2> CurrentHtmlDocument() const {
    win::ComPtr<IHTMLDocument2> doc;
    win::ComPtr<IDispatch> disp;
    if (browser_ && SUCCEEDED(browser_->get_Document(disp.put())) && disp) disp.As(doc);
    return doc;
  }

  void UnbindDocument() {
    domEvents_.Disconnect();
    dom_.reset();
  }

  Events* events_ = nullptr;
  HWND parent_ = nullptr;
  std::optional<pageguard::Guard> guard_;
  bool ownPending_ = false;  // the next top-level BeforeNavigate2 is the host's own Navigate
  bool returning_ = false;  // the way back waits for its timer
  std::wstring goTo_;
  bool blank_ = false;
  win::ComPtr<BrowserSite> site_;
  win::ComPtr<IOleObject> ole_;
  win::ComPtr<IWebBrowser2> browser_;
  win::ComPtr<IOleInPlaceObject> inPlace_;
  win::ComPtr<IOleInPlaceActiveObject> active_;
  comevents::Connection browserEvents_;
  win::ComPtr<IHTMLDocument2> dom_;  // M_Dom
  comevents::Connection domEvents_;
};

BrowserHost::BrowserHost() : impl_(new Impl) {}
BrowserHost::~BrowserHost() { delete impl_; }

bool BrowserHost::Create(HWND parent, const RECT& rc, Events* events, Scope scope) {
  return impl_->Create(parent, rc, events, std::move(scope));
}
void BrowserHost::Destroy() { impl_->Destroy(); }
bool BrowserHost::IsCreated() const { return impl_->IsCreated(); }
HRESULT BrowserHost::Navigate(const std::wstring& url) { return impl_->Navigate(url, pageguard::Origin::kClient); }
void BrowserHost::SetSilent(bool silent) { impl_->SetSilent(silent); }
bool BrowserHost::Silent() const { return impl_->Silent(); }
void BrowserHost::SetRect(const RECT& rc) { impl_->SetRect(rc); }
IWebBrowser2* BrowserHost::Browser() const { return impl_->Browser(); }
bool BrowserHost::IsTopLevel(IDispatch* pDisp) const { return impl_->IsTopLevel(pDisp); }
std::wstring BrowserHost::LocationURL() const { return impl_->LocationURL(); }
std::wstring BrowserHost::BodyText() const { return impl_->BodyText(); }
void BrowserHost::BindDocument() { impl_->BindDocument(); }
bool BrowserHost::HasBoundDocument() const { return impl_->HasBoundDocument(); }
bool BrowserHost::Focus() { return impl_->Focus(); }
HWND BrowserHost::Window() const { return impl_->Window(); }
bool BrowserHost::TranslateAccelerator(MSG& msg) { return impl_->TranslateAccelerator(msg); }
