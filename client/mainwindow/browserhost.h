// Hosts the platform's WebBrowser control in a child window, without ATL.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <string>

class BrowserHost {
 public:
  // Browser events of interest; every method is optional. The host applies
  // nothing by itself (no Silent, no BindDocument): each owner decides in
  // its handlers. Events may arrive inside Navigate itself, and a handler
  // may Destroy the host.
  class Events {
   public:
    virtual void OnDownloadBegin() {}
    virtual void OnDownloadComplete() {}
    // pDisp is the browser object of the completed document (the control
    // itself for the top-level document, another object for a frame).
    virtual void OnDocumentComplete(IDispatch* pDisp, const std::wstring& url) {}

   protected:
    ~Events() = default;
  };

  BrowserHost();
  ~BrowserHost();  // Destroy()
  BrowserHost(const BrowserHost&) = delete;
  BrowserHost& operator=(const BrowserHost&) = delete;

  // Creates the control in-place active inside `parent` at `rc` (client
  // pixels of the parent; may extend beyond it, the parent clips).
  bool Create(HWND parent, const RECT& rc, Events* events);
  // Unadvises every sink, deactivates, and releases every COM object.
  void Destroy();
  bool IsCreated() const;

  HRESULT Navigate(const std::wstring& url);
  void SetSilent(bool silent);
  bool Silent() const;
  void SetRect(const RECT& rc);
  IWebBrowser2* Browser() const;
  // True when pDisp is the control's own top-level browser object.
  bool IsTopLevel(IDispatch* pDisp) const;
  std::wstring LocationURL() const;
  // innerText of the current document's body; empty when there is none.
  std::wstring BodyText() const;

  // Binds `M_Dom` to the current top-level HTML document, whose
  // oncontextmenu then returns false; empties it for no or a non-HTML
  // document (disconnecting the previous one either way).
  void BindDocument();
  bool HasBoundDocument() const;
  // What the bound document's oncontextmenu handler answers (false cancels
  // the menu); true when nothing is bound. For tests and diagnostics.
  bool RaiseContextMenuForTesting();
  // The DOCHOSTUIFLAG_* the control gets from its site (the site says it
  // is dpi-aware). For tests and diagnostics.
  unsigned long HostFlagsForTesting() const;
  // Site and sink objects of all hosts still alive in the process; zero
  // once every host is destroyed and the controls let go of them.
  static long LiveObjectsForTesting();

  // Keyboard messages for the control; true only when it handled them (S_OK).
  bool TranslateAccelerator(MSG& msg);

 private:
  class Impl;
  Impl* impl_;
};
