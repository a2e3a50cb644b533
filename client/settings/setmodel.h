// Decisions of the settings dialog: which option boxes there are, what a
// stored text makes of a box, which keys OK writes, where the dialog's
// elements go, how the OK and Cancel pictures follow the mouse and how the
// keyboard walks and presses. No Windows header.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/mainwindow/skinmodel.h"

namespace settings {

// --- the option boxes ---------------------------------------------------------

struct OptionBox {
  int index;  // member of Check1
  std::u16string_view key;
};

// In the order the loaded values are read and the changes written. There is
// no box 2.
inline constexpr std::array<OptionBox, 3> kOptionBoxes{{{0, u"autorun"}, {1, u"closetotray"}, {3, u"shortlnk"}}};
// Top to bottom as they stand in the dialog: the order Tab walks.
inline constexpr std::array<int, 3> kTabOrder{0, 3, 1};

// What a stored text does to its box at load: exactly "1" checks it, exactly
// "0" unchecks it, and both become the box's loaded value. Any other text
// (the empty one included) leaves box and loaded value alone: nullopt.
struct LoadedOption {
  int state;             // 0 unchecked, 1 checked
  std::u16string_view tag;  // the loaded value kept beside the box
};
std::optional<LoadedOption> LoadFromText(std::u16string_view text);

// A box as OK finds it.
struct BoxValue {
  std::u16string_view key;
  std::u16string tag;  // "1", "0", or empty when the file gave neither
  int state = 0;       // 0 or 1
};

struct KeyWrite {
  std::u16string key;
  std::u16string value;
  bool operator==(const KeyWrite&) const = default;
};

// The keys OK writes, in the order of `boxes`: those whose state differs from
// the number the loaded value stands for (an empty loaded value is 0), each
// with the state as decimal text.
std::vector<KeyWrite> ChangedOptions(const std::vector<BoxValue>& boxes);

// --- layout -------------------------------------------------------------------

inline constexpr double kDialogWidth = 276;
inline constexpr double kDialogHeight = 267;

// Where img_ShowFrame(0) and (1) stand; the layout never moves them.
inline constexpr std::array<skin::Box, 2> kFramePlaces{{{24, 208, 98, 40}, {152, 208, 98, 40}}};
// lbl_RespondCmd(i): the part of a button that takes the mouse.
inline constexpr double kRespondWidth = 93;
inline constexpr double kRespondHeight = 41;
// Line5, the separator above the buttons; never moved.
inline constexpr skin::LineCoords kLine5{-8, 192, 168, 192};

struct DialogInput {
  double width = kDialogWidth;
  double height = kDialogHeight;
  double iconWidth = 32;
  double titleWidth = 0;  // lblTitle, sized to its text
  double titleHeight = 0;
  double closeWidth = 36;
  double normalWidth = 97;  // imgBtnNormal, the picture the frames get
  double normalHeight = 40;
  std::array<double, 2> captionWidth{};  // Label1, Label2, sized to their text
  std::array<double, 2> captionHeight{};
};

struct DialogLayout {
  skin::ChromeLayout chrome;           // title strip, icon, title, close button, border
  std::array<skin::Box, 2> frame;      // img_ShowFrame with the normal picture's size
  std::array<skin::Box, 2> respond;    // lbl_RespondCmd on the frames' corners
  std::array<skin::Box, 2> caption;    // Label1, Label2 centred on their frames
};

DialogLayout PlaceDialog(const DialogInput& in);

// --- OK and Cancel ------------------------------------------------------------

enum class ButtonPicture { kNormal, kHover, kPressed };
enum class ButtonAction { kNone, kApplyAndClose, kClose };

inline constexpr int kOkButton = 0;
inline constexpr int kCancelButton = 1;

// The pictures of the two image buttons and the flag they share
// (bBtnHover). Moving onto a button while the flag is clear shows its hover
// picture and the hand; moving over the bare dialog while it is set puts
// both normal pictures and the arrow back. A press shows the pressed
// picture; its release, with any button and wherever the pointer is, ends
// the dialog: OK applies first.
class ButtonSet {
 public:
  // lbl_RespondCmd_MouseMove; true when anything changed.
  bool OnButtonMove(int button);
  // Form_MouseMove; true when anything changed.
  bool OnSurfaceMove();
  void OnButtonDown(int button);
  // A release that has no press of its own on this button during this load
  // (it began on another window, or before the dialog was there) does
  // nothing.
  ButtonAction OnButtonUp(int button);
  // The layout puts the normal pictures back and leaves the flag alone.
  void ResetPictures();
  // A new load: no presses, no hover.
  void Reset();

  bool Flag() const { return flag_; }
  ButtonPicture Picture(int button) const { return pictures_.at(static_cast<size_t>(button)); }
  bool HandCursor() const { return hand_; }

 private:
  std::array<ButtonPicture, 2> pictures_{ButtonPicture::kNormal, ButtonPicture::kNormal};
  std::array<bool, 2> pressed_{false, false};
  bool flag_ = false;
  bool hand_ = false;
};

// --- keyboard -------------------------------------------------------------------

// Where the keyboard can be, in the order Tab walks: the boxes of kTabOrder
// (stops 0 to 2), then OK and Cancel. Shift+Tab walks back; both wrap.
inline constexpr int kFocusStops = 5;
inline constexpr int kOkStop = 3;
int NextFocusStop(int stop, bool backwards);
// The button at a stop (kOkButton, kCancelButton); -1 for a box.
inline int ButtonAtStop(int stop) { return stop >= kOkStop ? stop - kOkStop : -1; }

enum class KeyMessage { kDown, kUp };
enum class KeyStep { kNone, kPress, kRelease, kClick };
inline constexpr int kSpaceKey = 0x20;   // VK_SPACE
inline constexpr int kReturnKey = 0x0D;  // VK_RETURN

// What a key does to the image button the keyboard is on, as the mouse's
// press and release: Space presses on its first down (not the repeats) and
// completes the button on its up; Enter presses and completes at once (its
// repeats do nothing). Other keys, Esc included, do nothing.
KeyStep StepForKey(KeyMessage message, int key, bool repeat);

}  // namespace settings
