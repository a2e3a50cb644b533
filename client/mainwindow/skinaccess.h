// What an accessibility client (a screen reader) sees of a skinned window:
// the IAccessible its window answers WM_GETOBJECT (OBJID_CLIENT) with. The
// window's own part - its name, its child windows such as the check boxes -
// is the system's standard client object; the windowless controls (caption
// buttons, image buttons) are simple children 1..n of it, push buttons with
// their names, places, hot and focus states and the click as their default
// action.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <vector>

#include "client/mainwindow/skinmodel.h"

namespace skin {

// The skinned window behind the object.
class AccessibleHost {
 public:
  virtual HWND AccessibleWindow() const = 0;
  virtual const Scene& AccessibleScene() const = 0;
  virtual std::vector<AccessibleControl> AccessibleControls() const = 0;
  // The control shows its hover (or pressed) picture.
  virtual bool AccessibleHot(int control) const = 0;
  // The control that has the keyboard focus (the window has it); -1 none.
  virtual int AccessibleFocus() const = 0;
  // Does what a click on the control does, once the client's call has
  // returned (the click may close the window the client is talking to).
  virtual void AccessibleDefaultAction(int control) = 0;

 protected:
  ~AccessibleHost() = default;
};

class SkinAccessible final : public IAccessible, public IOleWindow {
 public:
  // Null when the system's part cannot be made.
  static SkinAccessible* Create(AccessibleHost& host);

  // The window goes: every later call fails, and remote clients lose the
  // object.
  void Disconnect();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
  // IAccessible
  STDMETHODIMP get_accParent(IDispatch** parent) override;
  STDMETHODIMP get_accChildCount(long* count) override;
  STDMETHODIMP get_accChild(VARIANT child, IDispatch** out) override;
  STDMETHODIMP get_accName(VARIANT child, BSTR* name) override;
  STDMETHODIMP get_accValue(VARIANT child, BSTR* value) override;
  STDMETHODIMP get_accDescription(VARIANT child, BSTR* text) override;
  STDMETHODIMP get_accRole(VARIANT child, VARIANT* role) override;
  STDMETHODIMP get_accState(VARIANT child, VARIANT* state) override;
  STDMETHODIMP get_accHelp(VARIANT child, BSTR* help) override;
  STDMETHODIMP get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
  STDMETHODIMP get_accKeyboardShortcut(VARIANT child, BSTR* keys) override;
  STDMETHODIMP get_accFocus(VARIANT* child) override;
  STDMETHODIMP get_accSelection(VARIANT* children) override;
  STDMETHODIMP get_accDefaultAction(VARIANT child, BSTR* action) override;
  STDMETHODIMP accSelect(long flags, VARIANT child) override;
  STDMETHODIMP accLocation(long* left, long* top, long* width, long* height, VARIANT child) override;
  STDMETHODIMP accNavigate(long dir, VARIANT start, VARIANT* end) override;
  STDMETHODIMP accHitTest(long x, long y, VARIANT* child) override;
  STDMETHODIMP accDoDefaultAction(VARIANT child) override;
  STDMETHODIMP put_accName(VARIANT, BSTR) override;
  STDMETHODIMP put_accValue(VARIANT, BSTR) override;
  // IOleWindow
  STDMETHODIMP GetWindow(HWND* hwnd) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override;

 private:
  SkinAccessible(AccessibleHost& host, IAccessible* system) : host_(&host), system_(system) {}
  ~SkinAccessible();

  // What a child id names.
  enum class Target { kInvalid, kSelf, kControl, kSystemChild };
  struct Resolved {
    Target target = Target::kInvalid;
    int control = -1;  // kControl: the index into the host's controls
    VARIANT systemId{};  // kSelf, kSystemChild: the id the system's part knows
  };
  Resolved Resolve(const VARIANT& child) const;
  int ControlCount() const;

  LONG refs_ = 1;
  AccessibleHost* host_;  // null once disconnected
  IAccessible* system_;   // owned
};

}  // namespace skin
