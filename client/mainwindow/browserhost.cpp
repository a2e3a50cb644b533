#include "client/mainwindow/browserhost.h"

#include <exdispid.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <ocidl.h>
#include <oleidl.h>
#include <servprov.h>
#include <shellapi.h>
#include <urlmon.h>

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "client/mainwindow/navpolicy.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"

namespace {

// Not in every SDK's import libraries (mingw's lacks it).
constexpr GUID kHtmlDocumentEvents = {0x3050f260, 0x98b5, 0x11cf, {0xbb, 0x82, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x0b}};

// Site and sink objects alive in the process; the tests' leak check.
std::atomic<long> g_liveObjects{0};
// Key messages handed to a control's TranslateAccelerator.
std::atomic<long> g_keysOffered{0};

// One user-interface thread; a test may put a recorder here.
std::function<void(const std::wstring&)>& ShellOpener() {
  static std::function<void(const std::wstring&)> opener;
  return opener;
}

// As a click on a link in any desktop program: the user's default browser.
// Only addresses the policy passed come here: plain http and https.
void OpenInDefaultBrowser(const std::wstring& url) {
  if (auto& opener = ShellOpener()) {
    opener(url);
    return;
  }
  ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// ---------------------------------------------------------------------------
// Engine hardening

// Restrictions Internet Explorer applies to itself and leaves off in every
// other program that hosts the engine; switched on for this process only
// (nothing goes to the registry), before the first control exists.
constexpr INTERNETFEATURELIST kHardening[] = {
    FEATURE_ZONE_ELEVATION,                  // no way from an Internet page into a more trusted zone
    FEATURE_LOCALMACHINE_LOCKDOWN,           // content of the local machine zone runs no script
    FEATURE_DISABLE_MK_PROTOCOL,             // no mk: addresses
    FEATURE_WINDOW_RESTRICTIONS,             // script windows stay on the screen with title and status
    FEATURE_WEBOC_POPUPMANAGEMENT,           // unrequested pop-ups blocked
    FEATURE_RESTRICT_ACTIVEXINSTALL,         // no prompt to install an ActiveX control
    FEATURE_RESTRICT_FILEDOWNLOAD,           // no download prompt the user did not ask for
    FEATURE_MIME_HANDLING,                   // content not handled as a type it was not sent as
    FEATURE_MIME_SNIFFING,                   // a file's type not guessed up into a more dangerous one
    FEATURE_SAFE_BINDTOOBJECT,               // objects bound by address only when safe for the page
    FEATURE_HTTP_USERNAME_PASSWORD_DISABLE,  // no user name and password in http addresses
    FEATURE_VALIDATE_NAVIGATE_URL,           // malformed addresses not followed
};

void HardenEngine() {
  static const bool done = [] {
    for (INTERNETFEATURELIST f : kHardening) ::CoInternetSetFeatureEnabled(f, SET_FEATURE_ON_PROCESS, TRUE);
    return true;
  }();
  (void)done;
}

// What the control may fetch and run, its ambient download control: the
// page's pictures, videos and sounds, no ActiveX run or downloaded and no
// Java. Scripts run (the site needs them); frames load.
constexpr LONG kDownloadControl =
    DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_JAVA;

// URL actions the host's security manager refuses whatever the zone says:
// ActiveX run, scripted or downloaded, Java, and the shell's actions on
// files (downloads, running, moving and copying). Everything else is the
// zone's.
bool IsRefusedUrlAction(DWORD action) {
  switch (action) {
    case URLACTION_DOWNLOAD_SIGNED_ACTIVEX:
    case URLACTION_DOWNLOAD_UNSIGNED_ACTIVEX:
    case URLACTION_ACTIVEX_RUN:
    case URLACTION_ACTIVEX_OVERRIDE_OBJECT_SAFETY:
    case URLACTION_ACTIVEX_OVERRIDE_DATA_SAFETY:
    case URLACTION_ACTIVEX_OVERRIDE_SCRIPT_SAFETY:
    case URLACTION_ACTIVEX_SCRIPTLET_RUN:
    case URLACTION_SCRIPT_OVERRIDE_SAFETY:
    case URLACTION_SCRIPT_SAFE_ACTIVEX:
    case URLACTION_HTML_JAVA_RUN:
    case URLACTION_SHELL_INSTALL_DTITEMS:
    case URLACTION_SHELL_MOVE_OR_COPY:
    case URLACTION_SHELL_FILE_DOWNLOAD:
    case URLACTION_SHELL_VERB:
    case URLACTION_SHELL_WEBVIEW_VERB:
    case URLACTION_SHELL_EXECUTE_HIGHRISK:
    case URLACTION_SHELL_EXECUTE_MODRISK:
    case URLACTION_SHELL_EXECUTE_LOWRISK:
      return true;
    default:
      return false;
  }
}

// Keys of the engine's own commands that would bypass the host: Ctrl+N
// opens a browser window of its own (no new-window event), Ctrl+O and
// Ctrl+L its dialog for typing any address.
bool IsKeptFromEngine(const MSG& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  const bool ctrl = ::GetKeyState(VK_CONTROL) < 0, alt = ::GetKeyState(VK_MENU) < 0;
  if (!ctrl || alt) return false;
  return msg.wParam == 'N' || msg.wParam == 'O' || msg.wParam == 'L';
}

bool SameObject(IUnknown* a, IUnknown* b) {
  if (!a || !b) return false;
  win::ComPtr<IUnknown> ua, ub;
  if (FAILED(a->QueryInterface(IID_IUnknown, ua.put_void())) ||
      FAILED(b->QueryInterface(IID_IUnknown, ub.put_void())))
    return false;
  return ua.get() == ub.get();
}

// Argument `index` in declaration order; DISPPARAMS holds them reversed.
// By-reference variants are followed once.
const VARIANT* Arg(const DISPPARAMS* params, UINT index) {
  if (!params || !params->rgvarg || index >= params->cArgs) return nullptr;
  const VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
  if (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
  return v;
}

// The by-reference Boolean argument `index` (an event's Cancel), or null.
VARIANT_BOOL* BoolRefArg(const DISPPARAMS* params, UINT index) {
  if (!params || !params->rgvarg || index >= params->cArgs) return nullptr;
  VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
  if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) v = v->pvarVal;
  return v->vt == (VT_BYREF | VT_BOOL) ? v->pboolVal : nullptr;
}

std::wstring TextArg(const DISPPARAMS* params, UINT index) {
  const VARIANT* v = Arg(params, index);
  BSTR text = nullptr;
  if (v && v->vt == VT_BSTR) text = v->bstrVal;
  if (v && v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal) text = *v->pbstrVal;
  return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

// ---------------------------------------------------------------------------
// Event sinks

// Where a sink delivers its calls. A sink outlives its connection when the
// source keeps a reference, so it is detached from its receiver first.
class SinkReceiver {
 public:
  virtual HRESULT OnSinkInvoke(const IID& events, DISPID id, DISPPARAMS* params, VARIANT* result) = 0;

 protected:
  ~SinkReceiver() = default;
};

// An IDispatch reached only through Invoke with known ids: it has no type
// information and no names to look up.
template <typename Base>
class InvokeOnly : public Base {
 public:
  using Base::Base;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
};

class DispatchSink final : public InvokeOnly<IDispatch> {
 public:
  DispatchSink(const IID& events, SinkReceiver* receiver) : events_(events), receiver_(receiver) { ++g_liveObjects; }
  DispatchSink(const DispatchSink&) = delete;
  DispatchSink& operator=(const DispatchSink&) = delete;

  void Detach() { receiver_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == events_) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    // A handler may end the host (and detach this sink) while it runs.
    win::ComPtr<DispatchSink> keep = win::ComPtr<DispatchSink>::Retain(this);
    if (!receiver_) return S_OK;
    try {
      return receiver_->OnSinkInvoke(events_, id, params, result);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 private:
  ~DispatchSink() { --g_liveObjects; }

  std::atomic<long> refs_{1};
  const IID events_;
  SinkReceiver* receiver_;
};

// One advised sink on one connection point of one source.
class Connection {
 public:
  Connection() = default;
  ~Connection() { Disconnect(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  HRESULT Connect(IUnknown* source, const IID& events, SinkReceiver* receiver) {
    Disconnect();
    if (!source) return E_POINTER;
    win::ComPtr<IConnectionPointContainer> container;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (FAILED(hr)) return hr;
    win::ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(events, point.put());
    if (FAILED(hr)) return hr;
    if (!point) return E_FAIL;
    win::ComPtr<DispatchSink> sink;
    *sink.put() = new (std::nothrow) DispatchSink(events, receiver);
    if (!sink) return E_OUTOFMEMORY;
    DWORD cookie = 0;
    hr = point->Advise(static_cast<IDispatch*>(sink.get()), &cookie);
    if (FAILED(hr)) {
      sink->Detach();
      return hr;
    }
    point_ = std::move(point);
    sink_ = std::move(sink);
    cookie_ = cookie;
    return S_OK;
  }

  void Disconnect() {
    if (point_) point_->Unadvise(cookie_);
    if (sink_) sink_->Detach();
    point_.reset();
    sink_.reset();
    cookie_ = 0;
  }

  bool connected() const { return static_cast<bool>(point_); }
  IConnectionPoint* point() const { return point_.get(); }
  DispatchSink* sink() const { return sink_.get(); }
  DWORD cookie() const { return cookie_; }

 private:
  win::ComPtr<IConnectionPoint> point_;
  win::ComPtr<DispatchSink> sink_;
  DWORD cookie_ = 0;
};

// ---------------------------------------------------------------------------
// Client site: one object with one reference count; each interface is a
// small forwarder member that knows its owner.

class BrowserSite final : public IUnknown {
 public:
  BrowserSite(HWND parent, const RECT& rc)
      : parent_(parent),
        rect_(rc),
        client_(*this),
        inPlace_(*this),
        frame_(*this),
        ui_(*this),
        ambient_(*this),
        services_(*this),
        security_(*this) {
    ++g_liveObjects;
  }
  BrowserSite(const BrowserSite&) = delete;
  BrowserSite& operator=(const BrowserSite&) = delete;

  IOleClientSite* ClientSite() { return &client_; }
  void SetRect(const RECT& rc) { rect_ = rc; }
  const RECT& Rect() const { return rect_; }
  // The object the control made active at its UI activation: the one the
  // container's loop hands keys to.
  IOleInPlaceActiveObject* ActiveObject() const { return active_.get(); }
  // The control holds this site: the reference back must go by hand.
  void ClearActiveObject() { active_.reset(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown)
      found = this;
    else if (riid == IID_IOleClientSite)
      found = &client_;
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
      found = &inPlace_;
    else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
      found = &frame_;
    else if (riid == IID_IDocHostUIHandler)
      found = &ui_;
    else if (riid == IID_IDispatch)
      found = &ambient_;
    else if (riid == IID_IServiceProvider)
      found = &services_;
    else if (riid == IID_IInternetSecurityManager)
      found = &security_;
    if (!found) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    found->AddRef();
    *ppv = found;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  ~BrowserSite() { --g_liveObjects; }

  HWND FrameWindow() const {
    HWND root = ::GetAncestor(parent_, GA_ROOT);
    return root ? root : parent_;
  }

  template <typename Interface>
  class Forwarder : public Interface {
   public:
    explicit Forwarder(BrowserSite& site) : site_(site) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      return site_.QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return site_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return site_.Release(); }

   protected:
    BrowserSite& site_;
  };

  class ClientSiteImpl final : public Forwarder<IOleClientSite> {
   public:
    using Forwarder::Forwarder;
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
      if (moniker) *moniker = nullptr;
      return E_NOTIMPL;
    }
    // No container: the control lives alone in its parent window.
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
      if (container) *container = nullptr;
      return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
  };

  class InPlaceSiteImpl final : public Forwarder<IOleInPlaceSite> {
   public:
    using Forwarder::Forwarder;
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
      if (!hwnd) return E_POINTER;
      *hwnd = site_.parent_;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
      if (!frame || !doc || !pos || !clip || !info) return E_POINTER;
      site_.frame_.AddRef();
      *frame = &site_.frame_;
      *doc = nullptr;  // the frame is the document window too
      *pos = site_.rect_;
      *clip = site_.rect_;
      info->fMDIApp = FALSE;
      info->hwndFrame = site_.FrameWindow();
      info->haccel = nullptr;
      info->cAccelEntries = 0;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    // The place is the window's to decide (SetRect); the control keeps it.
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }
  };

  class FrameImpl final : public Forwarder<IOleInPlaceFrame> {
   public:
    using Forwarder::Forwarder;
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
      if (!hwnd) return E_POINTER;
      *hwnd = site_.FrameWindow();
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // No toolbars, menus or status bar for the control.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override {
      if (!widths) return S_OK;
      const bool none = widths->left == 0 && widths->top == 0 && widths->right == 0 && widths->bottom == 0;
      return none ? S_OK : INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
      site_.active_ = win::ComPtr<IOleInPlaceActiveObject>::Retain(active);
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
  };

  // Tells the control that the host is dpi-aware, so the site is drawn at
  // the display's scale, and keeps some of the engine's keys from it;
  // everything else is the control's default.
  class UiHandlerImpl final : public Forwarder<IDocHostUIHandler> {
   public:
    using Forwarder::Forwarder;
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override {
      if (!info || info->cbSize < sizeof(DOCHOSTUIINFO)) return E_INVALIDARG;
      info->dwFlags = DOCHOSTUIFLAG_DPI_AWARE;
      info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
      info->pchHostCss = nullptr;
      info->pchHostNS = nullptr;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                     IOleInPlaceUIWindow*) override {
      return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    // The engine asks before it acts on a key: its own commands that open
    // a window or an address of the user's choosing are kept from it.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override {
      return msg && IsKeptFromEngine(*msg) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override {
      if (key) *key = nullptr;
      return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** target) override {
      if (target) *target = nullptr;
      return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override {
      if (external) *external = nullptr;
      return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
      if (out) *out = nullptr;
      return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** out) override {
      if (out) *out = nullptr;
      return S_FALSE;
    }
  };

  // Ambient properties: only the download control is answered.
  class AmbientImpl final : public InvokeOnly<Forwarder<IDispatch>> {
   public:
    using InvokeOnly::InvokeOnly;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
      if (id != DISPID_AMBIENT_DLCONTROL || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
      if (!result) return E_POINTER;
      ::VariantInit(result);
      result->vt = VT_I4;
      result->lVal = kDownloadControl;
      return S_OK;
    }
  };

  // The engine asks its host for services; this host offers its security
  // manager and nothing else.
  class ServicesImpl final : public Forwarder<IServiceProvider> {
   public:
    using Forwarder::Forwarder;
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      *ppv = nullptr;
      if (service != SID_SInternetSecurityManager) return E_NOINTERFACE;
      return site_.security_.QueryInterface(riid, ppv);
    }
  };

  // Refuses the URL actions of IsRefusedUrlAction for every page of the
  // control, frames too; leaves everything else to the zones.
  class SecurityImpl final : public Forwarder<IInternetSecurityManager> {
   public:
    using Forwarder::Forwarder;
    HRESULT STDMETHODCALLTYPE SetSecuritySite(IInternetSecurityMgrSite*) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetSecuritySite(IInternetSecurityMgrSite** site) override {
      if (site) *site = nullptr;
      return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE MapUrlToZone(LPCWSTR, DWORD*, DWORD) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) override {
      return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR, DWORD action, BYTE* policy, DWORD policySize, BYTE*, DWORD,
                                               DWORD, DWORD) override {
      if (!IsRefusedUrlAction(action)) return INET_E_DEFAULT_ACTION;
      if (policy && policySize >= sizeof(DWORD)) {
        const DWORD disallow = URLPOLICY_DISALLOW;
        std::memcpy(policy, &disallow, sizeof disallow);
      }
      return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR, REFGUID, BYTE** policy, DWORD* policySize, BYTE*, DWORD,
                                                DWORD) override {
      if (policy) *policy = nullptr;
      if (policySize) *policySize = 0;
      return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD, LPCWSTR, DWORD) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD, IEnumString** list, DWORD) override {
      if (list) *list = nullptr;
      return INET_E_DEFAULT_ACTION;
    }
  };

  std::atomic<long> refs_{1};
  HWND parent_;
  RECT rect_;
  ClientSiteImpl client_;
  InPlaceSiteImpl inPlace_;
  FrameImpl frame_;
  UiHandlerImpl ui_;
  AmbientImpl ambient_;
  ServicesImpl services_;
  SecurityImpl security_;
  win::ComPtr<IOleInPlaceActiveObject> active_;
};

}  // namespace

// ---------------------------------------------------------------------------

class BrowserHost::Impl final : public SinkReceiver {
 public:
  ~Impl() { Destroy(); }

  bool Create(HWND parent, const RECT& rc, Events* events, const std::wstring& home) {
    if (ole_ || !parent) return false;
    HardenEngine();
    events_ = events;
    parent_ = parent;
    home_ = home;
    *site_.put() = new (std::nothrow) BrowserSite(parent, rc);
    if (!site_) return false;
    if (!Activate(parent, rc)) {
      Destroy();
      return false;
    }
    return true;
  }

  void Destroy() {
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
    events_ = nullptr;
    parent_ = nullptr;
  }

  bool IsCreated() const { return static_cast<bool>(browser_); }

  HRESULT Navigate(const std::wstring& url) {
    if (!browser_) return E_UNEXPECTED;
    win::Bstr address(url);
    if (!address.get()) return E_OUTOFMEMORY;
    win::Variant none;
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

  bool IsTopLevel(IDispatch* disp) const { return browser_ && SameObject(disp, browser_.get()); }

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

  DWORD HostFlags() const {
    // Asked as the control asks: through the client site it holds.
    win::ComPtr<IOleClientSite> site;
    win::ComPtr<IDocHostUIHandler> handler;
    if (!ole_ || FAILED(ole_->GetClientSite(site.put())) || !site || FAILED(site.As(handler))) return 0;
    DOCHOSTUIINFO info{};
    info.cbSize = sizeof info;
    return SUCCEEDED(handler->GetHostInfo(&info)) ? info.dwFlags : 0;
  }

  bool RaiseContextMenu() {
    if (!dom_ || !domEvents_.connected()) return true;
    // Call the handler the document itself holds, found through its
    // connection point, the way the document calls it.
    win::ComPtr<IDispatch> handler;
    win::ComPtr<IEnumConnections> list;
    const HRESULT hr = domEvents_.point()->EnumConnections(list.put());
    if (SUCCEEDED(hr) && list) {
      CONNECTDATA data{};
      ULONG got = 0;
      while (list->Next(1, &data, &got) == S_OK && got == 1) {
        win::ComPtr<IUnknown> unknown;
        *unknown.put() = data.pUnk;
        if (data.dwCookie == domEvents_.cookie() && !handler) unknown.As(handler);
      }
    } else if (hr == E_NOTIMPL) {
      handler = win::ComPtr<IDispatch>::Retain(domEvents_.sink());
    }
    if (!handler) return true;
    DISPPARAMS none{};
    win::Variant result;
    handler->Invoke(DISPID_HTMLDOCUMENTEVENTS_ONCONTEXTMENU, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                    result.get(), nullptr, nullptr);
    return !(result.ref().vt == VT_BOOL && result.ref().boolVal == VARIANT_FALSE);
  }

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
    ++g_keysOffered;
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
      case DISPID_DOCUMENTCOMPLETE: {
        const VARIANT* disp = Arg(params, 0);
        IDispatch* browser = disp && disp->vt == VT_DISPATCH ? disp->pdispVal : nullptr;
        events_->OnDocumentComplete(browser, TextArg(params, 1));
        break;
      }
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

  // Top-level navigations only: frames inside the page load as the site
  // wants. The window stays where it was when one is cancelled.
  void BeforeNavigate2(DISPPARAMS* params) {
    const VARIANT* disp = Arg(params, 0);
    IDispatch* browser = disp && disp->vt == VT_DISPATCH ? disp->pdispVal : nullptr;
    if (browser && !IsTopLevel(browser)) return;
    VARIANT_BOOL* cancel = BoolRefArg(params, 6);
    if (!cancel) return;
    const std::wstring url = TextArg(params, 1);
    switch (navpolicy::ForNavigation(win::U(url), win::U(home_))) {
      case navpolicy::Verdict::kStay:
        return;
      case navpolicy::Verdict::kDefaultBrowser:
        *cancel = VARIANT_TRUE;
        OpenInDefaultBrowser(url);
        return;
      case navpolicy::Verdict::kRefuse:
        *cancel = VARIANT_TRUE;
        return;
    }
  }

  // No window of the engine ever opens inside the client.
  void NewWindow3(DISPPARAMS* params) {
    VARIANT_BOOL* cancel = BoolRefArg(params, 1);
    if (!cancel) return;
    *cancel = VARIANT_TRUE;
    const std::wstring url = TextArg(params, 4);
    if (navpolicy::ForNewWindow(win::U(url)) == navpolicy::Verdict::kDefaultBrowser) OpenInDefaultBrowser(url);
  }

  // A file to save, not a document to show (older engines pass no first
  // argument, and fire this only for files).
  void FileDownload(DISPPARAMS* params) {
    VARIANT_BOOL* cancel = BoolRefArg(params, params && params->cArgs >= 2 ? 1 : 0);
    if (!cancel) return;
    const VARIANT* document = params->cArgs >= 2 ? Arg(params, 0) : nullptr;
    const bool isDocument = document && document->vt == VT_BOOL && document->boolVal != VARIANT_FALSE;
    if (!isDocument) *cancel = VARIANT_TRUE;
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
  std::wstring home_;  // the one site this control may show
  win::ComPtr<BrowserSite> site_;
  win::ComPtr<IOleObject> ole_;
  win::ComPtr<IWebBrowser2> browser_;
  win::ComPtr<IOleInPlaceObject> inPlace_;
  win::ComPtr<IOleInPlaceActiveObject> active_;
  Connection browserEvents_;
  win::ComPtr<IHTMLDocument2> dom_;  // M_Dom
  Connection domEvents_;
};

BrowserHost::BrowserHost() : impl_(new Impl) {}
BrowserHost::~BrowserHost() { delete impl_; }

bool BrowserHost::Create(HWND parent, const RECT& rc, Events* events, const std::wstring& home) {
  return impl_->Create(parent, rc, events, home);
}
void BrowserHost::Destroy() { impl_->Destroy(); }
bool BrowserHost::IsCreated() const { return impl_->IsCreated(); }
HRESULT BrowserHost::Navigate(const std::wstring& url) { return impl_->Navigate(url); }
void BrowserHost::SetSilent(bool silent) { impl_->SetSilent(silent); }
bool BrowserHost::Silent() const { return impl_->Silent(); }
void BrowserHost::SetRect(const RECT& rc) { impl_->SetRect(rc); }
IWebBrowser2* BrowserHost::Browser() const { return impl_->Browser(); }
bool BrowserHost::IsTopLevel(IDispatch* pDisp) const { return impl_->IsTopLevel(pDisp); }
std::wstring BrowserHost::LocationURL() const { return impl_->LocationURL(); }
std::wstring BrowserHost::BodyText() const { return impl_->BodyText(); }
void BrowserHost::BindDocument() { impl_->BindDocument(); }
bool BrowserHost::HasBoundDocument() const { return impl_->HasBoundDocument(); }
bool BrowserHost::RaiseContextMenuForTesting() { return impl_->RaiseContextMenu(); }
unsigned long BrowserHost::HostFlagsForTesting() const { return impl_->HostFlags(); }
bool BrowserHost::Focus() { return impl_->Focus(); }
HWND BrowserHost::Window() const { return impl_->Window(); }
bool BrowserHost::TranslateAccelerator(MSG& msg) { return impl_->TranslateAccelerator(msg); }
long BrowserHost::LiveObjectsForTesting() { return g_liveObjects.load(); }
long BrowserHost::KeysOfferedForTesting() { return g_keysOffered.load(); }
void BrowserHost::SetShellOpenerForTesting(std::function<void(const std::wstring&)> opener) {
  ShellOpener() = std::move(opener);
}
