#include "updater/modVerify.h"

#include <cstring>

#include "common/win/cng.h"

namespace modVerify {

namespace {

bool Succeeded(NTSTATUS s) { return BCRYPT_SUCCESS(s); }

// The provider lets the hash allocate its own object (Windows 7 on).
class Sha256 {
 public:
  Sha256() {
    if (!Succeeded(::BCryptOpenAlgorithmProvider(alg_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    if (!Succeeded(::BCryptCreateHash(alg_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0))) hash_.reset();
  }
  bool ok() const { return static_cast<bool>(hash_); }
  bool Add(const void* data, ULONG n) {
    return ok() && Succeeded(::BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)), n, 0));
  }
  bool Finish(signedoffer::Digest& out) {
    return ok() && Succeeded(::BCryptFinishHash(hash_.get(), out.data(), static_cast<ULONG>(out.size()), 0));
  }

 private:
  win::UniqueAlgProvider alg_;
  win::UniqueCngHash hash_;
};

}  // namespace

bool HashBytes(std::string_view bytes, signedoffer::Digest& out) {
  Sha256 h;
  constexpr size_t kStep = 1 << 30;
  for (size_t at = 0; at < bytes.size(); at += kStep) {
    const size_t n = bytes.size() - at < kStep ? bytes.size() - at : kStep;
    if (!h.Add(bytes.data() + at, static_cast<ULONG>(n))) return false;
  }
  return h.Finish(out);
}

bool HashFile(HANDLE file, signedoffer::Digest& out) {
  Sha256 h;
  if (!h.ok()) return false;
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
