#include "updater/signedoffer.h"

#include <algorithm>

#include "common/text.h"
#include "updater/updatelogic.h"

namespace signedoffer {

namespace {

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

int Base64Value(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c - u'A';
  if (c >= u'a' && c <= u'z') return c - u'a' + 26;
  if (c >= u'0' && c <= u'9') return c - u'0' + 52;
  if (c == u'+') return 62;
  if (c == u'/') return 63;
  return -1;
}

bool HasUnpairedSurrogate(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> Exactly(const std::optional<std::vector<std::uint8_t>>& bytes) {
  if (!bytes || bytes->size() != N) return std::nullopt;
  std::array<std::uint8_t, N> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> DecodeHex(std::u16string_view s) {
  if (s.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(s.size() / 2);
  for (size_t i = 0; i < s.size(); i += 2) {
    const int hi = HexValue(s[i]);
    const int lo = HexValue(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::u16string_view s) {
  if (s.size() % 4 != 0) return std::nullopt;
  size_t pad = 0;
  while (pad < 2 && pad < s.size() && s[s.size() - 1 - pad] == u'=') ++pad;
  const std::u16string_view body = s.substr(0, s.size() - pad);
  std::vector<std::uint8_t> out;
  out.reserve(body.size() * 3 / 4);
  std::uint32_t acc = 0;
  int bits = 0;
  for (char16_t c : body) {
    const int v = Base64Value(c);
    if (v < 0) return std::nullopt;  // a third "=", blanks, other letters
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  // What is left must be the zero bits that padding stands for: one
  // character of a group alone carries no whole byte.
  if (bits >= 6 || acc != 0) return std::nullopt;
  return out;
}

std::optional<std::string> CanonicalText(std::u16string_view version, std::u16string_view downUrl,
                                         std::u16string_view exeName, std::u16string_view fileSize,
                                         std::u16string_view sha256, std::u16string_view expires) {
  std::string out;
  for (std::u16string_view v : {version, downUrl, exeName, fileSize, sha256, expires}) {
    if (v.find(u'\n') != std::u16string_view::npos || HasUnpairedSurrogate(v)) return std::nullopt;
    out += text::Utf16ToUtf8(v);
    out += '\n';
  }
  return out;
}

std::optional<std::int64_t> ParseUtcTime(std::u16string_view s) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (s.size() != 20 || s[4] != u'-' || s[7] != u'-' || s[10] != u'T' || s[13] != u':' || s[16] != u':' ||
      s[19] != u'Z')
    return std::nullopt;
  auto number = [&](size_t at, size_t digits) -> std::optional<int> {
    int v = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (s[i] < u'0' || s[i] > u'9') return std::nullopt;
      v = v * 10 + (s[i] - u'0');
    }
    return v;
  };
  const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1970 || *month < 1 || *month > 12 || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int inMonth = kDays[*month - 1] + (*month == 2 && leap ? 1 : 0);
  if (*day < 1 || *day > inMonth) return std::nullopt;
  // Days since 1970-01-01 of a proleptic Gregorian date.
  const std::int64_t y = *year - (*month <= 2 ? 1 : 0);
  const std::int64_t era = y / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (*month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + *day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + *hour * 3600 + *minute * 60 + *second;
}

Freshness CheckExpiry(std::int64_t expires, std::int64_t now) {
  if (now > expires) return Freshness::kExpired;
  if (expires - now > kLongestOffer) return Freshness::kTooFarAhead;
  return Freshness::kFresh;
}

std::optional<SignedOffer> ReadSignedOffer(std::u16string_view manifest) {
  using updatelogic::ReadField;
  const auto version = ReadField(manifest, u"<version>", u"</version>");
  const auto downUrl = ReadField(manifest, u"<downurl>", u"</downurl>");
  const auto exeName = ReadField(manifest, u"<exename>", u"</exename>");
  const auto fileSize = ReadField(manifest, u"<filesize>", u"</filesize>");
  const auto sha256 = ReadField(manifest, u"<sha256>", u"</sha256>");
  const auto expires = ReadField(manifest, u"<expires>", u"</expires>");
  const auto signature = ReadField(manifest, u"<signature>", u"</signature>");
  if (!version || !downUrl || !exeName || !fileSize || !sha256 || !expires || !signature) return std::nullopt;
  const auto digest = Exactly<kDigestSize>(DecodeHex(*sha256));
  const auto sig = Exactly<kSignatureSize>(DecodeBase64(*signature));
  const auto end = ParseUtcTime(*expires);
  if (!digest || !sig || !end) return std::nullopt;
  auto canonical = CanonicalText(*version, *downUrl, *exeName, *fileSize, *sha256, *expires);
  if (!canonical) return std::nullopt;
  SignedOffer offer;
  offer.version = *version;
  offer.downUrl = *downUrl;
  offer.exeName = *exeName;
  offer.expires = *end;
  offer.signedText = std::move(*canonical);
  offer.sha256 = *digest;
  offer.signature = *sig;
  return offer;
}

}  // namespace signedoffer
