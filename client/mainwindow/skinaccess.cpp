#include "client/mainwindow/skinaccess.h"

#include <string>

#include "common/win/winstr.h"

// __uuidof(IAccessible), not IID_IAccessible: mingw-w64's oleacc and uuid
// libraries both define that symbol.

namespace skin {

namespace {

constexpr wchar_t kPress[] = L"按下";  // the default action of a push button

HRESULT Text(const std::wstring& s, BSTR* out) {
  if (!out) return E_POINTER;
  *out = ::SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT NoText(BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return S_FALSE;
}

void SetI4(VARIANT* v, long value) {
  ::VariantInit(v);
  v->vt = VT_I4;
  v->lVal = value;
}

}  // namespace

SkinAccessible* SkinAccessible::Create(AccessibleHost& host) {
  IAccessible* system = nullptr;
  if (FAILED(::CreateStdAccessibleObject(host.AccessibleWindow(), OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&system))) ||
      !system)
    return nullptr;
  return new SkinAccessible(host, system);
}

SkinAccessible::~SkinAccessible() {
  if (system_) system_->Release();
}

void SkinAccessible::Disconnect() {
  host_ = nullptr;
  // Remote clients' proxies fail from now on instead of holding the object.
  ::CoDisconnectObject(static_cast<IAccessible*>(this), 0);
  if (system_) {
    IAccessible* s = system_;
    system_ = nullptr;
    s->Release();
  }
}

int SkinAccessible::ControlCount() const {
  return host_ ? static_cast<int>(host_->AccessibleControls().size()) : 0;
}

SkinAccessible::Resolved SkinAccessible::Resolve(const VARIANT& child) const {
  Resolved r;
  if (!host_ || !system_) return r;
  if (child.vt == VT_EMPTY) {
    r.target = Target::kSelf;
    SetI4(&r.systemId, CHILDID_SELF);
    return r;
  }
  if (child.vt != VT_I4 || child.lVal < 0) return r;
  const long id = child.lVal;
  const long n = ControlCount();
  if (id == CHILDID_SELF) {
    r.target = Target::kSelf;
    SetI4(&r.systemId, CHILDID_SELF);
  } else if (id <= n) {
    r.target = Target::kControl;
    r.control = static_cast<int>(id - 1);
  } else {
    // The system's own children (the child windows) follow the controls.
    r.target = Target::kSystemChild;
    SetI4(&r.systemId, id - n);
  }
  return r;
}

// --- IUnknown, IDispatch ------------------------------------------------------

STDMETHODIMP SkinAccessible::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IAccessible)) {
    *ppv = static_cast<IAccessible*>(this);
  } else if (riid == IID_IOleWindow) {
    *ppv = static_cast<IOleWindow*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) SkinAccessible::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) SkinAccessible::Release() {
  const LONG r = ::InterlockedDecrement(&refs_);
  if (r == 0) delete this;
  return static_cast<ULONG>(r);
}

STDMETHODIMP SkinAccessible::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
STDMETHODIMP SkinAccessible::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP SkinAccessible::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
STDMETHODIMP SkinAccessible::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

// --- IAccessible ----------------------------------------------------------------

STDMETHODIMP SkinAccessible::get_accParent(IDispatch** parent) {
  if (!parent) return E_POINTER;
  *parent = nullptr;
  if (!system_) return RPC_E_DISCONNECTED;
  return system_->get_accParent(parent);
}

STDMETHODIMP SkinAccessible::get_accChildCount(long* count) {
  if (!count) return E_POINTER;
  *count = 0;
  if (!system_) return RPC_E_DISCONNECTED;
  long windows = 0;
  if (FAILED(system_->get_accChildCount(&windows))) windows = 0;
  *count = ControlCount() + windows;
  return S_OK;
}

STDMETHODIMP SkinAccessible::get_accChild(VARIANT child, IDispatch** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  Resolved r = Resolve(child);
  switch (r.target) {
    case Target::kControl:
      return S_FALSE;  // a simple element, no object of its own
    case Target::kSystemChild:
      return system_->get_accChild(r.systemId, out);
    default:
      return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  }
}

STDMETHODIMP SkinAccessible::get_accName(VARIANT child, BSTR* name) {
  if (!name) return E_POINTER;
  *name = nullptr;
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) {
    const auto controls = host_->AccessibleControls();
    return Text(win::W(controls.at(static_cast<size_t>(r.control)).name), name);
  }
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accName(r.systemId, name);
}

STDMETHODIMP SkinAccessible::get_accValue(VARIANT child, BSTR* value) {
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) return NoText(value);
  if (!value) return E_POINTER;
  *value = nullptr;
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accValue(r.systemId, value);
}

STDMETHODIMP SkinAccessible::get_accDescription(VARIANT child, BSTR* text) {
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) return NoText(text);
  if (!text) return E_POINTER;
  *text = nullptr;
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accDescription(r.systemId, text);
}

STDMETHODIMP SkinAccessible::get_accRole(VARIANT child, VARIANT* role) {
  if (!role) return E_POINTER;
  ::VariantInit(role);
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) {
    SetI4(role, ROLE_SYSTEM_PUSHBUTTON);
    return S_OK;
  }
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accRole(r.systemId, role);
}

STDMETHODIMP SkinAccessible::get_accState(VARIANT child, VARIANT* state) {
  if (!state) return E_POINTER;
  ::VariantInit(state);
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) {
    HWND h = host_->AccessibleWindow();
    long s = 0;
    if (host_->AccessibleHot(r.control)) s |= STATE_SYSTEM_HOTTRACKED;
    if (host_->AccessibleControls().at(static_cast<size_t>(r.control)).focusable) s |= STATE_SYSTEM_FOCUSABLE;
    if (host_->AccessibleFocus() == r.control) s |= STATE_SYSTEM_FOCUSED;
    // A disabled window (under a modal dialog) takes no click.
    if (!::IsWindowEnabled(h)) s |= STATE_SYSTEM_UNAVAILABLE;
    if (!::IsWindowVisible(h) || ::IsIconic(h)) s |= STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN;
    SetI4(state, s);
    return S_OK;
  }
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accState(r.systemId, state);
}

STDMETHODIMP SkinAccessible::get_accHelp(VARIANT child, BSTR* help) {
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) return NoText(help);
  if (!help) return E_POINTER;
  *help = nullptr;
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accHelp(r.systemId, help);
}

STDMETHODIMP SkinAccessible::get_accHelpTopic(BSTR* file, VARIANT child, long* topic) {
  if (!file || !topic) return E_POINTER;
  *file = nullptr;
  *topic = 0;
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) return S_FALSE;
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accHelpTopic(file, r.systemId, topic);
}

STDMETHODIMP SkinAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* keys) {
  // The image buttons have no keyboard equivalent.
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) return NoText(keys);
  if (!keys) return E_POINTER;
  *keys = nullptr;
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accKeyboardShortcut(r.systemId, keys);
}

STDMETHODIMP SkinAccessible::get_accFocus(VARIANT* child) {
  if (!child) return E_POINTER;
  ::VariantInit(child);
  if (!host_ || !system_) return RPC_E_DISCONNECTED;
  if (const int control = host_->AccessibleFocus(); control >= 0) {
    SetI4(child, control + 1);
    return S_OK;
  }
  // Else the focus is on a child window (a check box, the browser) or none:
  // the system's part knows.
  HRESULT hr = system_->get_accFocus(child);
  if (hr == S_OK && child->vt == VT_I4 && child->lVal != CHILDID_SELF) child->lVal += ControlCount();
  return hr;
}

STDMETHODIMP SkinAccessible::get_accSelection(VARIANT* children) {
  if (!children) return E_POINTER;
  ::VariantInit(children);
  if (!system_) return RPC_E_DISCONNECTED;
  return system_->get_accSelection(children);
}

STDMETHODIMP SkinAccessible::get_accDefaultAction(VARIANT child, BSTR* action) {
  if (!action) return E_POINTER;
  *action = nullptr;
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) return Text(kPress, action);
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->get_accDefaultAction(r.systemId, action);
}

STDMETHODIMP SkinAccessible::accSelect(long flags, VARIANT child) {
  Resolved r = Resolve(child);
  // The controls take no selection; the focus comes to them by the keyboard.
  if (r.target == Target::kControl) return DISP_E_MEMBERNOTFOUND;
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->accSelect(flags, r.systemId);
}

STDMETHODIMP SkinAccessible::accLocation(long* left, long* top, long* width, long* height, VARIANT child) {
  if (!left || !top || !width || !height) return E_POINTER;
  *left = *top = *width = *height = 0;
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) {
    const auto controls = host_->AccessibleControls();
    const PixelRect box = AccessibleBox(host_->AccessibleScene(), controls.at(static_cast<size_t>(r.control)));
    if (box.right <= box.left) return S_FALSE;
    POINT corner{box.left, box.top};
    ::ClientToScreen(host_->AccessibleWindow(), &corner);
    *left = corner.x;
    *top = corner.y;
    *width = box.right - box.left;
    *height = box.bottom - box.top;
    return S_OK;
  }
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->accLocation(left, top, width, height, r.systemId);
}

STDMETHODIMP SkinAccessible::accNavigate(long dir, VARIANT start, VARIANT* end) {
  if (!end) return E_POINTER;
  ::VariantInit(end);
  Resolved r = Resolve(start);
  const long n = ControlCount();
  if (r.target == Target::kControl) {
    const long id = r.control + 1;
    long next = 0;
    if (dir == NAVDIR_NEXT) next = id + 1;
    else if (dir == NAVDIR_PREVIOUS) next = id - 1;
    else return DISP_E_MEMBERNOTFOUND;
    if (next < 1 || next > n) return S_FALSE;
    SetI4(end, next);
    return S_OK;
  }
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  if (r.target == Target::kSelf && dir == NAVDIR_FIRSTCHILD && n > 0) {
    SetI4(end, 1);
    return S_OK;
  }
  HRESULT hr = system_->accNavigate(dir, r.systemId, end);
  if (hr == S_OK && end->vt == VT_I4 && end->lVal != CHILDID_SELF) end->lVal += n;
  if (hr == S_FALSE && r.target == Target::kSelf && dir == NAVDIR_LASTCHILD && n > 0) {
    SetI4(end, n);
    return S_OK;
  }
  return hr;
}

STDMETHODIMP SkinAccessible::accHitTest(long x, long y, VARIANT* child) {
  if (!child) return E_POINTER;
  ::VariantInit(child);
  if (!host_ || !system_) return RPC_E_DISCONNECTED;
  HWND h = host_->AccessibleWindow();
  POINT p{x, y};
  RECT client;
  if (::ScreenToClient(h, &p) && ::GetClientRect(h, &client) && ::PtInRect(&client, p)) {
    const int control = AccessibleAt(host_->AccessibleScene(), host_->AccessibleControls(), p.x, p.y);
    if (control >= 0) {
      SetI4(child, control + 1);
      return S_OK;
    }
  }
  HRESULT hr = system_->accHitTest(x, y, child);
  if (hr == S_OK && child->vt == VT_I4 && child->lVal != CHILDID_SELF) child->lVal += ControlCount();
  return hr;
}

STDMETHODIMP SkinAccessible::accDoDefaultAction(VARIANT child) {
  Resolved r = Resolve(child);
  if (r.target == Target::kControl) {
    HWND h = host_->AccessibleWindow();
    // A click cannot reach a hidden or disabled window's controls either.
    if (!::IsWindowVisible(h) || !::IsWindowEnabled(h)) return E_FAIL;
    host_->AccessibleDefaultAction(r.control);
    return S_OK;
  }
  if (r.target == Target::kInvalid) return host_ ? E_INVALIDARG : RPC_E_DISCONNECTED;
  return system_->accDoDefaultAction(r.systemId);
}

STDMETHODIMP SkinAccessible::put_accName(VARIANT, BSTR) { return E_NOTIMPL; }
STDMETHODIMP SkinAccessible::put_accValue(VARIANT, BSTR) { return E_NOTIMPL; }

// --- IOleWindow -------------------------------------------------------------------

STDMETHODIMP SkinAccessible::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = host_ ? host_->AccessibleWindow() : nullptr;
  return host_ ? S_OK : RPC_E_DISCONNECTED;
}

STDMETHODIMP SkinAccessible::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

}  // namespace skin
