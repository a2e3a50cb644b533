// The client's main window: a skinned 1000 x 710 window with its title
// strip, caption buttons and border, and the browser that shows the music
// site in the frame below the strip.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "client/mainwindow/browserhost.h"
#include "client/mainwindow/mainlayout.h"
#include "client/mainwindow/picture.h"
#include "client/mainwindow/skinform.h"
#include "common/win/form.h"
#include "common/win/owners.h"

class frmMain : public skin::SkinForm {
 public:
  static frmMain& Instance();

  // The start's show: shown, or, started at log-on ("/regstart"), loaded
  // hidden with its first activation's work done at once.
  void Start();

  // The address WebBrowser1 was last told to open: "about:blank", the
  // site's home address or its "/?autoplay=0" address. Empty until the
  // first activation. "about:blank" again once the browser went there
  // because the site's address led off the site, so that the tray's show
  // command tries the site again.
  std::wstring m_strOpenNet;

  // The main browser, inside picFrame, and the hidden one of the
  // first-start notice, which exists only while the notice is due.
  BrowserHost WebBrowser1;
  BrowserHost WebBrowser2;
  // One-second timer of the updater launch; enabled by Form_Load.
  win::FormTimer Timer1;

  bool bActivated = false;
  bool bCountOk = false;
  int16_t nTick = 0;
  // The updater is started at most once per run.
  bool bUpdaterStarted = false;
  // One flag for both caption buttons' hover pictures.
  bool bSysBtnHover() const { return hover_.Flag(); }

  // The picture of imgTray: the 16 x 16 tray icon.
  HICON imgTray() const { return trayPicture_.icon(); }
  // The browser frame (a child window), when loaded.
  HWND picFrame() const { return picFrame_; }

  void LayoutWindow();

  // Element ids of the current load, for the handlers and the tests.
  struct Ids {
    int imgTray = -1, imgMousePoint = -1, imgIcon = -1, Line3 = -1;
    int imgClose[2] = {-1, -1};
    int imgMin[2] = {-1, -1};
    int Line1 = -1, Line4 = -1, Line2 = -1, lblTitle = -1, imgTop = -1;
  };
  const Ids& ids() const { return ids_; }

 protected:
  void DescribeWindow(win::FormWindowSpec& desc) override;
  void Form_CreateControls() override;
  void Form_Load() override;
  void Form_Activate() override;
  void Form_Shown() override;
  void Form_Unload() override;

  void Skin_MouseMove(int target, const skin::MouseArgs& a) override;
  void Skin_MouseDown(int target, const skin::MouseArgs& a) override;
  void Skin_Click(int target) override;
  void Skin_ScaleChanged() override;
  std::vector<skin::AccessibleControl> Skin_AccessibleControls() const override;
  bool Skin_ControlHot(int control) const override;
  void Skin_ControlClick(int control) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  frmMain();

  // Chrome handlers; the index of the array member is not used.
  void imgTop_MouseDown(int button) { DragWindow(button); }
  void imgIcon_MouseDown(int button) { DragWindow(button); }
  void lblTitle_MouseDown(int button) { DragWindow(button); }
  void imgClose_Click(int index);
  void imgMin_Click(int index);
  void imgClose_MouseMove(int index);
  void imgMin_MouseMove(int index);
  void imgTop_MouseMove();
  // The main browser (again, for a window loaded anew), and the hidden one
  // while the first-start notice is due.
  void CreateBrowsers();
  void CreateNoticeBrowser();
  // The first activation's browser work: the address, the notice.
  void OpenSite();
  // Gives the keyboard focus to the page when the window is shown.
  bool FocusBrowser();
  void FirstActivation();
  // Steps 3 to 6 of the layout: the chrome, the frame and the browsers.
  void PlaceElements(const mainwindow::Layout& l);
  void ShowHoverState();
  void ShowHoverPictures();

  // Browser events.
  void WebBrowser1_DownloadBegin();
  void WebBrowser1_DownloadComplete();
  void WebBrowser1_DocumentComplete(IDispatch* pDisp, const std::wstring& url);
  void WebBrowser1_Blanked();
  void WebBrowser2_DocumentComplete(IDispatch* pDisp, const std::wstring& url);

  void Timer1_Timer();

  int IndexOf(const int (&members)[2], int target) const;

  struct Browser1Events final : BrowserHost::Events {
    frmMain& f;
    explicit Browser1Events(frmMain& form) : f(form) {}
    void OnDownloadBegin() override { f.WebBrowser1_DownloadBegin(); }
    void OnDownloadComplete() override { f.WebBrowser1_DownloadComplete(); }
    void OnDocumentComplete(IDispatch* d, const std::wstring& u) override { f.WebBrowser1_DocumentComplete(d, u); }
    void OnBlanked() override { f.WebBrowser1_Blanked(); }
  };
  struct Browser2Events final : BrowserHost::Events {
    frmMain& f;
    explicit Browser2Events(frmMain& form) : f(form) {}
    void OnDocumentComplete(IDispatch* d, const std::wstring& u) override { f.WebBrowser2_DocumentComplete(d, u); }
  };

  Browser1Events events1_{*this};
  Browser2Events events2_{*this};
  skin::HoverSet hover_{2};  // 0 close, 1 minimise
  Ids ids_;
  HWND picFrame_ = nullptr;
  win::UniqueHandle instanceMutex_;
  // Defers OpenSite past the first paint of a shown window.
  win::FormTimer openTimer_;

  // The artwork, loaded once for the object's life.
  skin::Picture topPicture_, iconPicture_, closePicture_[2], minPicture_[2], trayPicture_, mousePointPicture_;
  win::UniqueIcon bigIcon_, smallIcon_;
};
