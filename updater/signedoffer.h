// The signed part of an update offer: which manifest fields a publisher's
// signature covers, the exact text it is made over, and the decoding of the
// hash and signature fields. No Windows header: built natively too.
//
// The publisher signs, with ECDSA P-256 over SHA-256, the values of
// "<version>", "<downurl>", "<exename>", "<filesize>" and "<sha256>" as the
// field rules cut them, each followed by a line feed, in UTF-8. "<sha256>"
// is the installer's SHA-256 in hex; "<signature>" is base64 of r || s
// (32 bytes each, big-endian).
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
                                         std::u16string_view sha256);

struct SignedOffer {
  std::u16string version;  // the signed values, raw
  std::u16string downUrl;
  std::u16string exeName;
  std::string signedText;  // what the signature is made over
  Digest sha256{};         // the installer's expected hash
  Signature signature{};
};

// Cuts the signed fields and the signature out of the manifest; nothing
// when one is missing or fails, the hash is not 32 bytes of hex or the
// signature not 64 bytes of base64. Says nothing yet about whether the
// signature is good.
std::optional<SignedOffer> ReadSignedOffer(std::u16string_view manifest);

}  // namespace signedoffer
