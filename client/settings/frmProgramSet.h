// The settings dialog: the three options of "cfg.xml" as check boxes and
// the image buttons OK and Cancel in a small skinned window. Opened modally
// from the tray menu; the object outlives each opening, each load reads the
// file anew.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "client/mainwindow/picture.h"
#include "client/mainwindow/skinform.h"
#include "client/settings/setmodel.h"
#include "common/win/owners.h"

class frmProgramSet : public skin::SkinForm {
 public:
  static frmProgramSet& Instance();

  // Check1(0), (1) and (3); null for any other index or while not loaded.
  HWND Check1(int index) const;
  // The value box `index` was loaded with: "1", "0" or empty.
  const std::u16string& Tag(int index) const;

  bool bCloseHover() const { return closeHover_.Flag(); }
  bool bBtnHover() const { return buttons_.Flag(); }
  settings::ButtonPicture FramePicture(int index) const { return buttons_.Picture(index); }

 protected:
  void DescribeWindow(win::FormWindowSpec& desc) override;
  void Form_CreateControls() override;
  void Form_Load() override;
  void Form_Resize() override;
  void Skin_MouseMove(int target, const skin::MouseArgs& a) override;
  void Skin_MouseDown(int target, const skin::MouseArgs& a) override;
  void Skin_MouseUp(int target, const skin::MouseArgs& a) override;
  void Skin_Click(int target) override;
  void Skin_ScaleChanged() override;
  std::vector<skin::AccessibleControl> Skin_AccessibleControls() const override;
  bool Skin_ControlHot(int control) const override;
  void Skin_ControlClick(int control) override;
  int Skin_FocusedControl() const override;
  bool Form_PreviewKey(MSG& msg) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  frmProgramSet() = default;

  void LoadPictures();
  void CreateCheckBoxes();
  void PlaceCheckBoxes();
  void LoadOptState();
  void Layout();
  void Apply();
  int CheckState(int index) const;
  void ShowFramePicture(int index);
  // The keyboard: the stop it is on (the box with the focus, else the stop
  // kept), and moving it there.
  int CurrentStop() const;
  void FocusStop(int stop);
  HWND BoxAtStop(int stop) const;  // null at a button
  // A press and its release, as a click.
  void PressButton(int index);
  // The member of control array `name` that `target` is, or -1.
  int MemberOf(int target, std::u16string_view name) const;

  void Form_MouseMove();
  void imgClose_Click(int index);
  void imgClose_MouseMove(int index);
  void imgTop_MouseMove();
  void lbl_RespondCmd_MouseMove(int index);
  void lbl_RespondCmd_MouseDown(int index, int button);
  void lbl_RespondCmd_MouseUp(int index, int button);

  // Pictures and fonts, made once for the object's life.
  skin::Picture top_, titleIcon_, hand_, btnNormal_, btnHover_, btnActive_;
  std::array<skin::Picture, 2> close_;
  win::UniqueIcon bigIcon_, smallIcon_;
  win::UniqueFont boxFont_;

  // Element ids of the current load.
  struct Ids {
    int top = -1, icon = -1, title = -1, line5 = -1;
    std::array<int, 2> close{-1, -1}, frame{-1, -1}, respond{-1, -1}, caption{-1, -1};
    std::array<int, 4> lines{-1, -1, -1, -1};  // Line1 .. Line4
  } ids_;

  std::array<HWND, 4> check_{};      // Check1 by index; there is no box 2
  std::array<std::u16string, 4> tag_;
  int focusStop_ = 0;                 // where the keyboard goes back to at activation
  int keyPressed_ = -1;               // the button Space pressed, until its release

  skin::HoverSet closeHover_{1};      // bCloseHover
  settings::ButtonSet buttons_;       // bBtnHover and the OK/Cancel pictures
};
