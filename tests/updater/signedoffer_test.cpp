#include "updater/signedoffer.h"

#include <gtest/gtest.h>

using namespace signedoffer;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A manifest with the signed fields; `drop` leaves one tag pair out.
std::u16string Manifest(std::u16string_view drop = u"") {
  std::u16string m = u"<?xml version=\"1.0\"?>\n<update>\n";
  const std::pair<std::u16string_view, std::u16string_view> fields[] = {
      {u"version", u"1.0.1"},
      {u"downurl", u"http://h/box/VelmoraSetup.exe"},
      {u"exename", u"VelmoraSetup.exe"},
      {u"filesize", u"3000"},
      {u"sha256", u"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF"},
      {u"expires", u"2026-12-22T08:30:00Z"},
      {u"signature",
       u"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw=="},
      {u"opendownfile", u"5"},
  };
  for (const auto& [tag, value] : fields) {
    if (tag == drop) continue;
    m.append(u"<").append(tag).append(u">").append(value).append(u"</").append(tag).append(u">\n");
  }
  return m + u"</update>\n";
}

std::u16string Replace(std::u16string s, std::u16string_view from, std::u16string_view to) {
  const size_t at = s.find(from);
  EXPECT_NE(at, std::u16string::npos);
  if (at != std::u16string::npos) s.replace(at, from.size(), to);
  return s;
}

}  // namespace

TEST(DecodeHex, PairsOfEitherCaseAndNothingElse) {
  EXPECT_EQ(DecodeHex(u""), Bytes{});
  EXPECT_EQ(DecodeHex(u"00ff7A"), (Bytes{0x00, 0xff, 0x7a}));
  EXPECT_EQ(DecodeHex(u"DeadBEEF"), (Bytes{0xde, 0xad, 0xbe, 0xef}));
  for (std::u16string_view bad : {u"0", u"abc", u"0g", u"g0", u" 00", u"00 ", u"0x00", u"00\n", u"-1", u"１２",
                                  u"0\u0660"})
    EXPECT_EQ(DecodeHex(bad), std::nullopt) << std::string(bad.begin(), bad.end());
}

TEST(DecodeBase64, StandardAlphabetWithPadding) {
  // RFC 4648 test vectors.
  EXPECT_EQ(DecodeBase64(u""), Bytes{});
  EXPECT_EQ(DecodeBase64(u"Zg=="), B("f"));
  EXPECT_EQ(DecodeBase64(u"Zm8="), B("fo"));
  EXPECT_EQ(DecodeBase64(u"Zm9v"), B("foo"));
  EXPECT_EQ(DecodeBase64(u"Zm9vYg=="), B("foob"));
  EXPECT_EQ(DecodeBase64(u"Zm9vYmE="), B("fooba"));
  EXPECT_EQ(DecodeBase64(u"Zm9vYmFy"), B("foobar"));
  EXPECT_EQ(DecodeBase64(u"+/+/"), (Bytes{0xfb, 0xff, 0xbf}));
  const auto all = DecodeBase64(
      u"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==");
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 64u);
  for (size_t i = 0; i < 64; ++i) EXPECT_EQ((*all)[i], i);
}

TEST(DecodeBase64, AnythingElseIsRefused) {
  for (std::u16string_view bad : {
           u"Zg",        // padding missing
           u"Zg=",       // too short
           u"Z===",      // a lone character carries no byte
           u"====",      //
           u"Zh==",      // stray bits in the last character
           u"Zm9=",      //
           u"Zg==Zg==",  // padding inside
           u"Z=g=",      //
           u"Zm9v\n",    // line break
           u"Zm 9v",     // blank
           u"Zm9v ",     //
           u"Zm-_",      // the URL alphabet
           u"Zm9\u00e9",  // not ASCII
       })
    EXPECT_EQ(DecodeBase64(bad), std::nullopt) << std::string(bad.begin(), bad.end());
}

TEST(CanonicalText, ValuesEachFollowedByALineFeedInUtf8) {
  EXPECT_EQ(CanonicalText(u"1.0.1", u"http://h/x.exe", u"安装.exe", u"3000", u"ab", u"2026-12-22T08:30:00Z"),
            "1.0.1\nhttp://h/x.exe\n\xE5\xAE\x89\xE8\xA3\x85.exe\n3000\nab\n2026-12-22T08:30:00Z\n");
  // Raw values: blanks and carriage returns stay, empty values count.
  EXPECT_EQ(CanonicalText(u" 1.0.1\r", u"", u"x", u" 3000 ", u"", u""), " 1.0.1\r\n\nx\n 3000 \n\n\n");
  // A pair of surrogates is one character.
  EXPECT_EQ(CanonicalText(u"1", u"\U0001F600", u"x", u"1", u"a", u"t"), "1\n\xF0\x9F\x98\x80\nx\n1\na\nt\n");
}

TEST(CanonicalText, RefusesWhatWouldBlurTheValues) {
  // "1.0.1\nhttp..." as one version would sign the same text as two values.
  EXPECT_EQ(CanonicalText(u"1.0.1\nu", u"x", u"e", u"1", u"a", u"t"), std::nullopt);
  EXPECT_EQ(CanonicalText(u"1", u"u", u"e", u"1", u"a\n", u"t"), std::nullopt);
  EXPECT_EQ(CanonicalText(u"1", u"u", u"e", u"1", u"a", u"t\n"), std::nullopt);
  EXPECT_EQ(CanonicalText(u"1", u"u\xD800", u"e", u"1", u"a", u"t"), std::nullopt);
  EXPECT_EQ(CanonicalText(u"1", u"u", u"\xDC00x", u"1", u"a", u"t"), std::nullopt);
}

TEST(ParseUtcTime, ExactlyTheOneFormOfARealDate) {
  EXPECT_EQ(ParseUtcTime(u"1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(ParseUtcTime(u"2000-03-01T00:00:00Z"), 951868800);  // after a leap day of a 400th year
  EXPECT_EQ(ParseUtcTime(u"2026-12-08T17:16:17Z"), 1796750177);
  EXPECT_EQ(ParseUtcTime(u"2024-02-29T23:59:59Z"), 1709251199);
  EXPECT_EQ(ParseUtcTime(u"9999-12-31T23:59:59Z"), 253402300799);
  for (std::u16string_view bad : {
           u"", u"2026-12-08T17:16:17", u"2026-12-08 17:16:17Z", u"2026-12-08T17:16:17z",
           u"2026-12-08T17:16:17+00:00", u"2026-12-8T17:16:17Z", u" 2026-12-08T17:16:17Z",
           u"2026-12-08T17:16:17Z ", u"2026-13-01T00:00:00Z", u"2026-00-01T00:00:00Z", u"2026-02-29T00:00:00Z",
           u"1900-02-29T00:00:00Z", u"2026-04-31T00:00:00Z", u"2026-12-00T00:00:00Z", u"2026-12-08T24:00:00Z",
           u"2026-12-08T17:60:00Z", u"2026-12-08T17:16:60Z", u"1969-12-31T23:59:59Z", u"+026-12-08T17:16:17Z",
           u"２026-12-08T17:16:17Z"})
    EXPECT_EQ(ParseUtcTime(bad), std::nullopt) << std::string(bad.begin(), bad.end());
}

TEST(CheckExpiry, UntilTheEndAndNoFurtherAheadThanAYear) {
  const std::int64_t now = 1796750177;
  EXPECT_EQ(CheckExpiry(now + 14 * 86400, now), Freshness::kFresh);
  EXPECT_EQ(CheckExpiry(now, now), Freshness::kFresh);
  EXPECT_EQ(CheckExpiry(now - 1, now), Freshness::kExpired);
  EXPECT_EQ(CheckExpiry(now + kLongestOffer, now), Freshness::kFresh);
  EXPECT_EQ(CheckExpiry(now + kLongestOffer + 1, now), Freshness::kTooFarAhead);
  EXPECT_EQ(CheckExpiry(253402300799, now), Freshness::kTooFarAhead);
}

TEST(ReadSignedOffer, CutsTheSignedFieldsAsTheFieldRulesDo) {
  const auto offer = ReadSignedOffer(Manifest());
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->version, u"1.0.1");
  EXPECT_EQ(offer->downUrl, u"http://h/box/VelmoraSetup.exe");
  EXPECT_EQ(offer->exeName, u"VelmoraSetup.exe");
  EXPECT_EQ(offer->signedText,
            "1.0.1\nhttp://h/box/VelmoraSetup.exe\nVelmoraSetup.exe\n3000\n"
            "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF\n2026-12-22T08:30:00Z\n");
  EXPECT_EQ(offer->expires, *ParseUtcTime(u"2026-12-22T08:30:00Z"));
  EXPECT_EQ(offer->sha256[0], 0x00);
  EXPECT_EQ(offer->sha256[31], 0xff);
  for (size_t i = 0; i < kSignatureSize; ++i) EXPECT_EQ(offer->signature[i], i);
  // The delay is not signed: any value, or none, leaves the text alone.
  const auto noDelay = ReadSignedOffer(Manifest(u"opendownfile"));
  ASSERT_TRUE(noDelay);
  EXPECT_EQ(noDelay->signedText, offer->signedText);
  // Blanks inside the tags are part of the signed value.
  const auto blank = ReadSignedOffer(Replace(Manifest(), u"<version>1.0.1", u"<version> 1.0.1"));
  ASSERT_TRUE(blank);
  EXPECT_EQ(blank->signedText.substr(0, 7), " 1.0.1\n");
}

TEST(ReadSignedOffer, MissingOrMalformedFieldsGiveNoOffer) {
  for (std::u16string_view tag :
       {u"version", u"downurl", u"exename", u"filesize", u"sha256", u"expires", u"signature"})
    EXPECT_EQ(ReadSignedOffer(Manifest(tag)), std::nullopt) << std::string(tag.begin(), tag.end());
  const std::u16string m = Manifest();
  const std::u16string sha = u"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
  const std::u16string sig =
      u"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==";
  const std::u16string bad[] = {
      Replace(m, sha, sha.substr(2)),                  // 31 bytes
      Replace(m, sha, sha + u"00"),                    // 33 bytes
      Replace(m, sha, u" " + sha),                     // a blank
      Replace(m, sha, sha.substr(1) + u"g"),           // not hex
      Replace(m, sig, sig.substr(4)),                  // 61 bytes
      Replace(m, sig, u"AAAA" + sig),                  // 67 bytes
      Replace(m, sig, sig.substr(0, 64) + u"\n" + sig.substr(64)),  // wrapped as openssl base64 does
      Replace(m, u"<version>1.0.1", u"<version>1.0.1\n"),           // a line feed in a signed value
      Replace(m, u"<signature>", u"<Signature>"),      // tags are case-sensitive
      Replace(m, u"</sha256>", u"</SHA256>"),
      Replace(m, u"2026-12-22T08:30:00Z", u"2026-12-22T08:30:00"),  // not a time of the one form
      Replace(m, u"2026-12-22T08:30:00Z", u"never"),
  };
  for (size_t i = 0; i < std::size(bad); ++i) EXPECT_EQ(ReadSignedOffer(bad[i]), std::nullopt) << i;
}
