// The platform's cryptography (CNG) as the updater needs it: SHA-256 of a
// text or a file and the check of an ECDSA P-256 signature.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/win/cng.h"
#include "updater/signedoffer.h"

namespace modVerify {

// SHA-256 of bytes handed over piece by piece. A failure of the platform
// makes Finish fail.
class Hasher {
 public:
  Hasher();
  bool Add(const void* data, std::size_t n);
  bool Finish(signedoffer::Digest& out);

 private:
  win::UniqueAlgProvider alg_;  // outlives the hash made from it
  win::UniqueCngHash hash_;
  bool failed_ = false;
};

bool HashBytes(std::string_view bytes, signedoffer::Digest& out);
// The whole file, read through the handle from its first byte.
bool HashFile(HANDLE file, signedoffer::Digest& out);

// True only when `signature` (r || s) over the SHA-256 of `text` verifies
// with the P-256 public key `publicKey` (X || Y, 64 bytes). Any failure of
// the platform, or a key of another size, counts as a bad signature.
bool VerifySignature(const std::vector<std::uint8_t>& publicKey, std::string_view text,
                     const signedoffer::Signature& signature);

}  // namespace modVerify
