// Hosts the platform's WebBrowser control in a child window, without ATL.
// Every host keeps its control to one site and hardens the engine: see
// Create.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <functional>
#include <string>

class BrowserHost {
 public:
  // Browser events of interest; every method is optional. Silent and the
  // document binding are the owner's to decide in its handlers; where the
  // browser may go is the host's (Create). Events may arrive inside
  // Navigate itself, and a handler may Destroy the host.
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
  // pixels of the parent; may extend beyond it, the parent clips). `home`
  // names the one site the control may show (its scheme, host and port;
  // navpolicy.h): a top-level navigation elsewhere is cancelled, a web
  // address going to the default browser; a new window never opens in the
  // client, the same way; a file download is cancelled; the engine's keys
  // for a window or an address of its own are kept from it. The first host
  // of the process switches on the engine's own restrictions for the
  // process, and every host tells its control to run and fetch no ActiveX.
  bool Create(HWND parent, const RECT& rc, Events* events, const std::wstring& home);
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

  // UI-activates the control and puts the keyboard focus on its window
  // (unless it is there already). True when the focus is inside it.
  bool Focus();
  // The control's own window (its children are the page's), when created.
  HWND Window() const;

  // Keyboard messages for the control; true only when it handled them (S_OK).
  bool TranslateAccelerator(MSG& msg);
  // Key messages handed to the control so far, in the process. For tests.
  static long KeysOfferedForTesting();

  // Where addresses for the default browser go; the shell (ShellExecuteW)
  // unless a test puts something else there (nullptr: the shell again).
  static void SetShellOpenerForTesting(std::function<void(const std::wstring&)> opener);

 private:
  class Impl;
  Impl* impl_;
};
