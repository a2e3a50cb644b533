#include "client/mainwindow/browsersite.h"

#include <mshtmdid.h>
#include <mshtmhst.h>
#include <servprov.h>
#include <urlmon.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "client/mainwindow/browserprobe.h"
#include "client/mainwindow/comevents.h"
#include "client/mainwindow/enginerestrictions.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"

namespace {

// Declared by urlmon.h, defined in no import library of mingw's.
constexpr GUID kConfirmObjectSafety = {0x10200490, 0xfa38, 0x11d0, {0xac, 0x0e, 0x00, 0xa0, 0xc9, 0x0f, 0xff, 0xc0}};

enum class Answer { kZones, kAllow, kDisallow };

// What a page may do with ActiveX: the engine asks to run a control (with
// its class id) and to script one; the listed controls run on the site's
// pages and nowhere else. What lets a page past a control's own safety
// marks, fetches code or acts on files is refused everywhere. `control` is
// null when the engine names none.
Answer ForUrlAction(DWORD action, bool onSite, const CLSID* control, const std::vector<CLSID>& listed) {
  const bool isListed = control && std::find(listed.begin(), listed.end(), *control) != listed.end();
  switch (action) {
    case URLACTION_ACTIVEX_RUN:
      return onSite && isListed ? Answer::kAllow : Answer::kDisallow;
    case URLACTION_SCRIPT_SAFE_ACTIVEX:
      // Asked also without a class id: only listed controls run on the
      // site's pages, so those are the ones there to script.
      return onSite && (isListed || !control) ? Answer::kAllow : Answer::kDisallow;
    case URLACTION_DOWNLOAD_SIGNED_ACTIVEX:
    case URLACTION_DOWNLOAD_UNSIGNED_ACTIVEX:
    case URLACTION_ACTIVEX_OVERRIDE_OBJECT_SAFETY:
    case URLACTION_ACTIVEX_OVERRIDE_DATA_SAFETY:
    case URLACTION_ACTIVEX_OVERRIDE_SCRIPT_SAFETY:
    case URLACTION_ACTIVEX_CONFIRM_NOOBJECTSAFETY:
    case URLACTION_ACTIVEX_SCRIPTLET_RUN:
    case URLACTION_SCRIPT_OVERRIDE_SAFETY:
    case URLACTION_HTML_JAVA_RUN:
    case URLACTION_SHELL_INSTALL_DTITEMS:
    case URLACTION_SHELL_MOVE_OR_COPY:
    case URLACTION_SHELL_FILE_DOWNLOAD:
    case URLACTION_SHELL_VERB:
    case URLACTION_SHELL_WEBVIEW_VERB:
    case URLACTION_SHELL_EXECUTE_HIGHRISK:
    case URLACTION_SHELL_EXECUTE_MODRISK:
    case URLACTION_SHELL_EXECUTE_LOWRISK:
      return Answer::kDisallow;
    default:
      return Answer::kZones;
  }
}

class Site final : public BrowserSite {
 public:
  Site(HWND parent, const RECT& rc, navpolicy::Site site, std::vector<CLSID> controls)
      : parent_(parent),
        rect_(rc),
        site_(std::move(site)),
        controls_(std::move(controls)),
        client_(*this),
        inPlace_(*this),
        frame_(*this),
        ui_(*this),
        ambient_(*this),
        services_(*this),
        security_(*this) {
    browserprobe::ObjectMade();
  }
  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  IOleClientSite* ClientSite() override { return &client_; }
  void SetRect(const RECT& rc) override { rect_ = rc; }
  RECT Rect() const override { return rect_; }
  IOleInPlaceActiveObject* ActiveObject() const override { return active_.get(); }
  void ClearActiveObject() override { active_.reset(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown)
      found = static_cast<BrowserSite*>(this);
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
  ~Site() override { browserprobe::ObjectGone(); }

  HWND FrameWindow() const {
    HWND root = ::GetAncestor(parent_, GA_ROOT);
    return root ? root : parent_;
  }

  // Each interface is a small forwarder member that knows its owner; the
  // owner keeps the one reference count.
  template <typename Interface>
  class Forwarder : public Interface {
   public:
    explicit Forwarder(Site& site) : site_(site) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      return site_.QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return site_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return site_.Release(); }

   protected:
    Site& site_;
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
    // The engine asks before it acts on a key.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override {
      return msg && enginerestrictions::IsKeptFromEngine(*msg) ? S_OK : S_FALSE;
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
  class AmbientImpl final : public comevents::InvokeOnly<Forwarder<IDispatch>> {
   public:
    using InvokeOnly::InvokeOnly;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
      if (id != DISPID_AMBIENT_DLCONTROL || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
      if (!result) return E_POINTER;
      ::VariantInit(result);
      result->vt = VT_I4;
      result->lVal = enginerestrictions::DownloadControl();
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

  // Asked by the engine for every page and frame of the control.
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
    HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR url, DWORD action, BYTE* policy, DWORD policySize, BYTE* context,
                                               DWORD contextSize, DWORD, DWORD) override {
      CLSID control{};
      const bool named = context && contextSize >= sizeof control;
      if (named) std::memcpy(&control, context, sizeof control);
      const Answer answer = ForUrlAction(action, OnSite(url), named ? &control : nullptr, site_.controls_);
      if (answer == Answer::kZones) return INET_E_DEFAULT_ACTION;
      const DWORD value = answer == Answer::kAllow ? URLPOLICY_ALLOW : URLPOLICY_DISALLOW;
      if (policy && policySize >= sizeof value) std::memcpy(policy, &value, sizeof value);
      return answer == Answer::kAllow ? S_OK : S_FALSE;
    }
    // The engine confirms that a control it made (also one a script made
    // by name) may be scripted: for the listed controls on the site's pages
    // the control's own marks decide, as in the zone; for every other one
    // the answer is no.
    HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR url, REFGUID key, BYTE** policy, DWORD* policySize,
                                                BYTE* context, DWORD contextSize, DWORD) override {
      if (policy) *policy = nullptr;
      if (policySize) *policySize = 0;
      if (key != kConfirmObjectSafety || !policy || !policySize) return INET_E_DEFAULT_ACTION;
      CONFIRMSAFETY asked{};
      const bool named = context && contextSize >= sizeof asked;
      if (named) std::memcpy(&asked, context, sizeof asked);
      if (ForUrlAction(URLACTION_ACTIVEX_RUN, OnSite(url), named ? &asked.clsid : nullptr, site_.controls_) ==
          Answer::kAllow)
        return INET_E_DEFAULT_ACTION;
      auto* answer = static_cast<DWORD*>(::CoTaskMemAlloc(sizeof(DWORD)));
      if (!answer) return E_OUTOFMEMORY;
      *answer = URLPOLICY_DISALLOW;
      *policy = reinterpret_cast<BYTE*>(answer);
      *policySize = sizeof(DWORD);
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD, LPCWSTR, DWORD) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD, IEnumString** list, DWORD) override {
      if (list) *list = nullptr;
      return INET_E_DEFAULT_ACTION;
    }

   private:
    bool OnSite(LPCWSTR url) const { return url && site_.site_.Holds(win::U(url)); }
  };

  std::atomic<long> refs_{1};
  HWND parent_;
  RECT rect_;
  const navpolicy::Site site_;
  const std::vector<CLSID> controls_;
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

BrowserSite* BrowserSite::Create(HWND parent, const RECT& rc, navpolicy::Site site, std::vector<CLSID> controls) {
  return new (std::nothrow) Site(parent, rc, std::move(site), std::move(controls));
}
