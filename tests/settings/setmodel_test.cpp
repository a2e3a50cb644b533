// What the settings dialog decides: box states from stored texts, the keys
// OK writes, the places of its elements and the OK/Cancel pictures.
#include "client/settings/setmodel.h"

#include <gtest/gtest.h>

namespace settings {
namespace {

TEST(SettingsOptions, OnlyExactOneAndZeroLoadABox) {
  auto on = LoadFromText(u"1");
  ASSERT_TRUE(on);
  EXPECT_EQ(on->state, 1);
  EXPECT_EQ(on->tag, u"1");
  auto off = LoadFromText(u"0");
  ASSERT_TRUE(off);
  EXPECT_EQ(off->state, 0);
  EXPECT_EQ(off->tag, u"0");
  for (std::u16string_view text : {u"", u" 1", u"1 ", u"01", u"yes", u"true", u"\uFF11", u"-0", u"1\n"})
    EXPECT_FALSE(LoadFromText(text)) << std::string(text.begin(), text.end());
}

std::vector<BoxValue> Boxes(std::u16string a, int sa, std::u16string c, int sc, std::u16string s, int ss) {
  return {{u"autorun", std::move(a), sa}, {u"closetotray", std::move(c), sc}, {u"shortlnk", std::move(s), ss}};
}

TEST(SettingsOptions, OkWritesOnlyChangedKeysInBoxOrder) {
  EXPECT_TRUE(ChangedOptions(Boxes(u"1", 1, u"0", 0, u"1", 1)).empty());
  EXPECT_EQ(ChangedOptions(Boxes(u"1", 1, u"1", 1, u"1", 0)), (std::vector<KeyWrite>{{u"shortlnk", u"0"}}));
  EXPECT_EQ(ChangedOptions(Boxes(u"0", 1, u"1", 0, u"0", 1)),
            (std::vector<KeyWrite>{{u"autorun", u"1"}, {u"closetotray", u"0"}, {u"shortlnk", u"1"}}));
}

TEST(SettingsOptions, AnEmptyLoadedValueCountsAsUnchecked) {
  // Left unchecked: nothing written, the key keeps its odd text.
  EXPECT_TRUE(ChangedOptions(Boxes(u"", 0, u"", 0, u"", 0)).empty());
  // Checked: written as "1".
  EXPECT_EQ(ChangedOptions(Boxes(u"", 1, u"0", 0, u"", 0)), (std::vector<KeyWrite>{{u"autorun", u"1"}}));
}

TEST(SettingsLayout, PlacesChromeButtonsAndCaptions) {
  DialogInput in;
  in.titleWidth = 64;
  in.titleHeight = 16;
  in.captionWidth = {28, 30};
  in.captionHeight = {14, 15};
  const DialogLayout d = PlaceDialog(in);

  EXPECT_EQ(d.chrome.top.width, 276);
  EXPECT_EQ(d.chrome.top.height, 35);
  EXPECT_EQ(d.chrome.icon.left, 5);
  EXPECT_EQ(d.chrome.icon.top, 2);
  EXPECT_EQ(d.chrome.title.left, 45);
  EXPECT_EQ(d.chrome.title.top, 9.5);
  EXPECT_EQ(d.chrome.close.left, 238);
  EXPECT_EQ(d.chrome.close.top, 2);
  EXPECT_EQ(d.chrome.line1, (skin::LineCoords{0, 0, 0, 267}));
  EXPECT_EQ(d.chrome.line2, (skin::LineCoords{0, 0, 276, 0}));
  EXPECT_EQ(d.chrome.line3, (skin::LineCoords{275, 0, 275, 267}));
  EXPECT_EQ(d.chrome.line4, (skin::LineCoords{0, 265.5, 276, 265.5}));

  // The frames keep their places and take the normal picture's size.
  EXPECT_EQ(d.frame[0].left, 24);
  EXPECT_EQ(d.frame[0].top, 208);
  EXPECT_EQ(d.frame[0].width, 97);
  EXPECT_EQ(d.frame[0].height, 40);
  EXPECT_EQ(d.frame[1].left, 152);
  EXPECT_EQ(d.frame[1].top, 208);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(d.respond[i].left, d.frame[i].left);
    EXPECT_EQ(d.respond[i].top, d.frame[i].top);
    EXPECT_EQ(d.respond[i].width, 93);
    EXPECT_EQ(d.respond[i].height, 41);
  }
  // (frame width - label width) / 2 + frame left, likewise for the top.
  EXPECT_EQ(d.caption[0].left, 58.5);
  EXPECT_EQ(d.caption[0].top, 221);
  EXPECT_EQ(d.caption[1].left, 152 + 33.5);
  EXPECT_EQ(d.caption[1].top, 208 + 12.5);
  EXPECT_EQ(skin::ToPixel(d.caption[0].left), 59);
}

TEST(SettingsButtons, HoverNeedsTheBareSurfaceToEnd) {
  ButtonSet b;
  EXPECT_TRUE(b.OnButtonMove(kOkButton));
  EXPECT_TRUE(b.Flag());
  EXPECT_TRUE(b.HandCursor());
  EXPECT_EQ(b.Picture(kOkButton), ButtonPicture::kHover);
  EXPECT_EQ(b.Picture(kCancelButton), ButtonPicture::kNormal);
  // One flag for both: the other button shows no hover until the surface
  // was crossed.
  EXPECT_FALSE(b.OnButtonMove(kCancelButton));
  EXPECT_EQ(b.Picture(kCancelButton), ButtonPicture::kNormal);
  EXPECT_TRUE(b.OnSurfaceMove());
  EXPECT_FALSE(b.Flag());
  EXPECT_FALSE(b.HandCursor());
  EXPECT_EQ(b.Picture(kOkButton), ButtonPicture::kNormal);
  EXPECT_FALSE(b.OnSurfaceMove());
  EXPECT_TRUE(b.OnButtonMove(kCancelButton));
  EXPECT_EQ(b.Picture(kCancelButton), ButtonPicture::kHover);
}

TEST(SettingsButtons, PressedStaysWhileMovingAndTheReleaseEndsTheDialog) {
  ButtonSet b;
  b.OnButtonMove(kOkButton);
  b.OnButtonDown(kOkButton);
  EXPECT_EQ(b.Picture(kOkButton), ButtonPicture::kPressed);
  EXPECT_FALSE(b.OnButtonMove(kOkButton));
  EXPECT_EQ(b.Picture(kOkButton), ButtonPicture::kPressed);
  EXPECT_EQ(b.OnButtonUp(kOkButton), ButtonAction::kApplyAndClose);

  ButtonSet c;
  c.OnButtonDown(kCancelButton);  // without a hover first, e.g. the right button
  EXPECT_EQ(c.Picture(kCancelButton), ButtonPicture::kPressed);
  EXPECT_EQ(c.OnButtonUp(kCancelButton), ButtonAction::kClose);
}

TEST(SettingsButtons, AReleaseWithoutItsPressDoesNothing) {
  ButtonSet b;
  b.OnButtonMove(kOkButton);
  EXPECT_EQ(b.OnButtonUp(kOkButton), ButtonAction::kNone);
  b.OnButtonDown(kCancelButton);
  EXPECT_EQ(b.OnButtonUp(kOkButton), ButtonAction::kNone);
  EXPECT_EQ(b.OnButtonUp(kCancelButton), ButtonAction::kClose);
}

TEST(SettingsButtons, LayoutResetsPicturesButNotTheFlagAndANewLoadResetsBoth) {
  ButtonSet b;
  b.OnButtonMove(kCancelButton);
  b.ResetPictures();
  EXPECT_EQ(b.Picture(kCancelButton), ButtonPicture::kNormal);
  EXPECT_TRUE(b.Flag());
  EXPECT_FALSE(b.OnButtonMove(kOkButton));

  b.OnButtonDown(kOkButton);
  b.Reset();
  EXPECT_FALSE(b.Flag());
  EXPECT_FALSE(b.HandCursor());
  EXPECT_EQ(b.Picture(kOkButton), ButtonPicture::kNormal);
  EXPECT_EQ(b.OnButtonUp(kOkButton), ButtonAction::kNone);
  EXPECT_TRUE(b.OnButtonMove(kOkButton));
}

TEST(SettingsKeyboard, SpacePressesAndCompletesOnItsUpEnterAtOnceEscNothing) {
  constexpr int kEscape = 0x1B;
  const struct { KeyMessage message; int key; bool repeat; KeyStep want; } cases[] = {
      {KeyMessage::kDown, kSpaceKey, false, KeyStep::kPress},  {KeyMessage::kDown, kSpaceKey, true, KeyStep::kNone},
      {KeyMessage::kUp, kSpaceKey, false, KeyStep::kRelease},  {KeyMessage::kDown, kReturnKey, false, KeyStep::kClick},
      {KeyMessage::kDown, kReturnKey, true, KeyStep::kNone},   {KeyMessage::kUp, kReturnKey, false, KeyStep::kNone},
      {KeyMessage::kDown, kEscape, false, KeyStep::kNone},     {KeyMessage::kUp, kEscape, false, KeyStep::kNone},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StepForKey(c.message, c.key, c.repeat), c.want) << c.key << " " << static_cast<int>(c.message);
}

}  // namespace
}  // namespace settings
