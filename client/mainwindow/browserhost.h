// Hosts the platform's WebBrowser control in a child window, without ATL.
// Every host keeps its control to its site and hardens the engine: see
// Create.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <string>
#include <string_view>
#include <vector>

#include "client/mainwindow/navpolicy.h"

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
    // The window left its site with no page of the site to go back to (the
    // client's own address led off it, or the way back did): it now goes
    // to "about:blank".
    virtual void OnBlanked() {}

   protected:
    ~Events() = default;
  };

  // Where a browser may go, and which installed ActiveX controls (class
  // ids) the pages of its site may run and script.
  struct Scope {
    navpolicy::Site site;
    std::vector<CLSID> controls;
  };
  // The class ids of `text` ("{...}", separated by spaces); what does not
  // read as one is left out.
  static std::vector<CLSID> ClassIds(std::wstring_view text);

  BrowserHost();
  ~BrowserHost();  // Destroy()
  BrowserHost(const BrowserHost&) = delete;
  BrowserHost& operator=(const BrowserHost&) = delete;

  // Creates the control in-place active inside `parent` at `rc` (client
  // pixels of the parent; may extend beyond it, the parent clips), keeping
  // it to `scope` (navpolicy.h): a top-level navigation off the site is
  // cancelled, a web address going to the default browser where the site
  // hands addresses on; a page the window reaches off the site all the same
  // (a redirect) is left again (pageguard.h); a new window never opens in
  // the client; a file download is cancelled; the engine's keys for a
  // window or an address of its own are kept from it. The first host of
  // the process switches on the engine's own restrictions for the process
  // (enginerestrictions.h); the site's security manager lets only the
  // scope's controls run, on the site's pages (browsersite.h).
  bool Create(HWND parent, const RECT& rc, Events* events, Scope scope);
  // Unadvises every sink, deactivates, and releases every COM object.
  void Destroy();
  bool IsCreated() const;

  // The client's own navigation (not the page's).
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

  // UI-activates the control and puts the keyboard focus on its window
  // (unless it is there already). True when the focus is inside it.
  bool Focus();
  // The control's own window (its children are the page's), when created.
  HWND Window() const;

  // Keyboard messages for the control; true only when it handled them (S_OK).
  bool TranslateAccelerator(MSG& msg);

 private:
  class Impl;
  Impl* impl_;
};
