#include "client/settings/setmodel.h"

namespace settings {

std::optional<LoadedOption> LoadFromText(std::u16string_view text) {
  // Exact texts only: no trimming, no numeric reading.
  if (text == u"1") return LoadedOption{1, u"1"};
  if (text == u"0") return LoadedOption{0, u"0"};
  return std::nullopt;
}

std::vector<KeyWrite> ChangedOptions(const std::vector<BoxValue>& boxes) {
  std::vector<KeyWrite> out;
  for (const BoxValue& b : boxes) {
    // The loaded value is "1", "0" or empty; only "1" stands for a checked box.
    const int loaded = b.tag == u"1" ? 1 : 0;
    const int state = b.state ? 1 : 0;
    if (state != loaded) out.push_back({std::u16string(b.key), state ? u"1" : u"0"});
  }
  return out;
}

DialogLayout PlaceDialog(const DialogInput& in) {
  DialogLayout d;
  skin::ChromeInput c;
  c.width = in.width;
  c.height = in.height;
  c.iconWidth = in.iconWidth;
  c.titleWidth = in.titleWidth;
  c.titleHeight = in.titleHeight;
  c.closeWidth = in.closeWidth;
  c.hasMinimize = false;
  d.chrome = skin::PlaceChrome(c);
  for (size_t i = 0; i < 2; ++i) {
    const skin::Box place = kFramePlaces[i];
    d.frame[i] = {place.left, place.top, in.normalWidth, in.normalHeight};
    d.respond[i] = {place.left, place.top, kRespondWidth, kRespondHeight};
    d.caption[i] = {(d.frame[i].width - in.captionWidth[i]) / 2 + d.frame[i].left,
                    (d.frame[i].height - in.captionHeight[i]) / 2 + d.frame[i].top, in.captionWidth[i],
                    in.captionHeight[i]};
  }
  return d;
}

bool ButtonSet::OnButtonMove(int button) {
  if (flag_) return false;  // a pressed picture stays while the mouse moves
  pictures_.at(static_cast<size_t>(button)) = ButtonPicture::kHover;
  flag_ = true;
  hand_ = true;
  return true;
}

bool ButtonSet::OnSurfaceMove() {
  if (!flag_) return false;
  pictures_.fill(ButtonPicture::kNormal);
  flag_ = false;
  hand_ = false;
  return true;
}

void ButtonSet::OnButtonDown(int button) {
  pictures_.at(static_cast<size_t>(button)) = ButtonPicture::kPressed;
  pressed_.at(static_cast<size_t>(button)) = true;
}

ButtonAction ButtonSet::OnButtonUp(int button) {
  if (!pressed_.at(static_cast<size_t>(button))) return ButtonAction::kNone;
  pressed_.fill(false);
  return button == kOkButton ? ButtonAction::kApplyAndClose : ButtonAction::kClose;
}

void ButtonSet::ResetPictures() { pictures_.fill(ButtonPicture::kNormal); }

void ButtonSet::Reset() {
  pictures_.fill(ButtonPicture::kNormal);
  pressed_.fill(false);
  flag_ = false;
  hand_ = false;
}

int NextFocusStop(int stop, bool backwards) {
  return (stop + (backwards ? kFocusStops - 1 : 1)) % kFocusStops;
}

KeyStep StepForKey(KeyMessage message, int key, bool repeat) {
  if (message == KeyMessage::kUp) return key == kSpaceKey ? KeyStep::kRelease : KeyStep::kNone;
  if (repeat) return KeyStep::kNone;
  if (key == kSpaceKey) return KeyStep::kPress;
  return key == kReturnKey ? KeyStep::kClick : KeyStep::kNone;
}

}  // namespace settings
