#include "updater/modVerify.h"

#include <cstring>

#include "common/win/cng.h"

namespace modVerify {

namespace {

bool Succeeded(NTSTATUS s) { return BCRYPT_SUCCESS(s); }

}  // namespace

// The provider lets the hash allocate its own object (Windows 7 on).
Hasher::Hasher() {
  failed_ = !Succeeded(::BCryptOpenAlgorithmProvider(alg_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
            !Succeeded(::BCryptCreateHash(alg_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0));
}

bool Hasher::Add(const void* data, std::size_t n) {
  constexpr std::size_t kStep = 1u << 30;  // the call takes 32-bit lengths
  const auto* p = static_cast<const unsigned char*>(data);
  while (!failed_ && n > 0) {
    const std::size_t step = n < kStep ? n : kStep;
    failed_ = !Succeeded(::BCryptHashData(hash_.get(), const_cast<PUCHAR>(p), static_cast<ULONG>(step), 0));
    p += step;
    n -= step;
  }
  return !failed_;
}

bool Hasher::Finish(signedoffer::Digest& out) {
  if (failed_) return false;
  failed_ = true;  // a hash is finished once
  return Succeeded(::BCryptFinishHash(hash_.get(), out.data(), static_cast<ULONG>(out.size()), 0));
}

bool HashBytes(std::string_view bytes, signedoffer::Digest& out) {
  Hasher h;
  return h.Add(bytes.data(), bytes.size()) && h.Finish(out);
}

bool HashFile(HANDLE file, signedoffer::Digest& out) {
  Hasher h;
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return false;
  std::vector<unsigned char> buf(256 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) return false;
    if (got == 0) break;
    if (!h.Add(buf.data(), got)) return false;
  }
  return h.Finish(out);
}

bool VerifySignature(const std::vector<std::uint8_t>& publicKey, std::string_view text,
                     const signedoffer::Signature& signature) {
  if (publicKey.size() != signedoffer::kPublicKeySize) return false;
  signedoffer::Digest digest{};
  if (!HashBytes(text, digest)) return false;

  win::UniqueAlgProvider alg;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(alg.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
  // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y.
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + publicKey.size());
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(publicKey.size() / 2)};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, publicKey.data(), publicKey.size());
  win::UniqueCngKey key;
  if (!Succeeded(::BCryptImportKeyPair(alg.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob.data(),
                                       static_cast<ULONG>(blob.size()), 0)))
    return false;
  signedoffer::Signature sig = signature;  // the call takes non-const buffers
  return ::BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()), sig.data(),
                                 static_cast<ULONG>(sig.size()), 0) == 0;  // STATUS_SUCCESS, nothing else
}

}  // namespace modVerify
