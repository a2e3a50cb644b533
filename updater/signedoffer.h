// The signed part of an update offer: which manifest fields a publisher's
// signature covers, the exact text it is made over, and the decoding of the
// hash and signature fields. No Windows header: built natively too.
//
// The publisher signs, with ECDSA P-256 over SHA-256, the values of
// "<version>", "<downurl>", "<exename>", "<filesize>", "<sha256>" and
// "<expires>" as the field rules cut them, each followed by a line feed, in
// UTF-8. "<sha256>" is the installer's SHA-256 in hex; "<expires>" the time
// the offer ends, UTC, as YYYY-MM-DDTHH:MM:SSZ; "<signature>" is base64 of
// r || s (32 bytes each, big-endian).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace signedoffer {

inline constexpr std::size_t kDigestSize = 32;
inline constexpr std::size_t kSignatureSize = 64;
inline constexpr std::size_t kPublicKeySize = 64;  // X || Y of the curve point

using Digest = std::array<std::uint8_t, kDigestSize>;
using Signature = std::array<std::uint8_t, kSignatureSize>;

// Hex digits in pairs, either case, nothing else (no blanks, no prefix).
// The empty text gives no bytes.
std::optional<std::vector<std::uint8_t>> DecodeHex(std::u16string_view s);

// Standard base64 ("+/") with "=" padding to a multiple of four, nothing
// else: no blanks or line breaks, no padding inside, no stray bits in the
// last character.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::u16string_view s);

// The UTF-8 text the signature covers. Refused when a value holds a line
// feed (the text would no longer tell the values apart) or an unpaired
// surrogate (it would not survive the conversion unchanged).
std::optional<std::string> CanonicalText(std::u16string_view version, std::u16string_view downUrl,
                                         std::u16string_view exeName, std::u16string_view fileSize,
                                         std::u16string_view sha256, std::u16string_view expires);

// Seconds since 1970-01-01T00:00:00Z of a time written exactly as
// YYYY-MM-DDTHH:MM:SSZ (a real date of the years 1970 to 9999, no leap
// second); nothing for anything else.
std::optional<std::int64_t> ParseUtcTime(std::u16string_view s);

// An offer may be taken until it expires, and only when its end is not
// further ahead than a publisher would set it: a replayed or withheld offer
// lasts no longer than that.
inline constexpr std::int64_t kLongestOffer = 366LL * 24 * 60 * 60;
enum class Freshness { kFresh, kExpired, kTooFarAhead };
Freshness CheckExpiry(std::int64_t expires, std::int64_t now);

struct SignedOffer {
  std::u16string version;  // the signed values, raw
  std::u16string downUrl;
  std::u16string exeName;
  std::int64_t expires = 0; // seconds since 1970, UTC
  std::string signedText;  // what the signature is made over
  Digest sha256{};         // the installer's expected hash
  Signature signature{};
};

// Cuts the signed fields and the signature out of the manifest; nothing
// when one is missing or fails, the hash is not 32 bytes of hex, the
// expiry not a time as above or the signature not 64 bytes of base64. Says
// nothing yet about whether the signature is good or the offer fresh.
std::optional<SignedOffer> ReadSignedOffer(std::u16string_view manifest);

}  // namespace signedoffer
