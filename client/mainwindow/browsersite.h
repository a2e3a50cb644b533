// The container side of a hosted browser control: the client site and the
// interfaces the control asks it for (in-place site and frame, UI handler,
// ambient properties, services) and the security manager it offers, which
// decides per page what ActiveX may do.
#pragma once

#include <windows.h>
#include <oleidl.h>

#include <vector>

#include "client/mainwindow/navpolicy.h"

class BrowserSite : public IUnknown {
 public:
  // One reference, or null. The security manager lets the installed
  // controls of `controls` run and be scripted on the pages `site` holds;
  // no other control runs anywhere, none is downloaded, no Java runs, and
  // the shell's file actions (downloads, running, moving or copying files)
  // are refused; the rest is the zones'.
  static BrowserSite* Create(HWND parent, const RECT& rc, navpolicy::Site site, std::vector<CLSID> controls);

  virtual IOleClientSite* ClientSite() = 0;
  virtual void SetRect(const RECT& rc) = 0;
  virtual RECT Rect() const = 0;
  // The object the control made active at its UI activation: the one the
  // container's loop hands keys to.
  virtual IOleInPlaceActiveObject* ActiveObject() const = 0;
  // The control holds this site: the reference back must go by hand.
  virtual void ClearActiveObject() = 0;

 protected:
  virtual ~BrowserSite() = default;
};
