// The platform's SHA-256 and ECDSA P-256 check, against known digests and
// against signatures that openssl made through the publishing script.
#include "updater/modVerify.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/text.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"
#include "signed_fixtures.h"
#include "tests/support/testsupport.h"
#include "updater/signedoffer.h"

namespace ts = testsupport;

namespace {

std::string Hex(const signedoffer::Digest& d) {
  static const char* x = "0123456789abcdef";
  std::string s;
  for (auto b : d) {
    s.push_back(x[b >> 4]);
    s.push_back(x[b & 15]);
  }
  return s;
}

std::vector<std::uint8_t> Key(const unsigned char (&k)[64]) { return {k, k + 64}; }

signedoffer::SignedOffer Offer(const char* manifest) {
  const auto offer = signedoffer::ReadSignedOffer(text::Utf8ToUtf16(manifest));
  EXPECT_TRUE(offer);
  return offer.value_or(signedoffer::SignedOffer{});
}

}  // namespace

TEST(Sha256, KnownDigestsOfTextsAndFiles) {
  signedoffer::Digest d{};
  ASSERT_TRUE(modVerify::HashBytes("", d));
  EXPECT_EQ(Hex(d), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  ASSERT_TRUE(modVerify::HashBytes("abc", d));
  EXPECT_EQ(Hex(d), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  // A file longer than one read, read from its start whatever the position.
  ts::TempDir dir;
  std::string big(700 * 1024 + 13, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 1000);
  ASSERT_TRUE(ts::WriteFileBytes(dir / L"big.bin", big));
  win::UniqueFile f(::CreateFileW((dir / L"big.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  0, nullptr));
  ASSERT_TRUE(f);
  char skip[100];
  DWORD got = 0;
  ASSERT_TRUE(::ReadFile(f.get(), skip, sizeof skip, &got, nullptr));
  signedoffer::Digest fromFile{}, fromBytes{};
  ASSERT_TRUE(modVerify::HashFile(f.get(), fromFile));
  ASSERT_TRUE(modVerify::HashBytes(big, fromBytes));
  EXPECT_EQ(fromFile, fromBytes);
  big[big.size() / 2] ^= 1;
  ASSERT_TRUE(modVerify::HashBytes(big, fromBytes));
  EXPECT_NE(fromFile, fromBytes);
  EXPECT_FALSE(modVerify::HashFile(INVALID_HANDLE_VALUE, fromFile));
}

TEST(VerifySignature, AcceptsOnlyTheSignedTextWithTheSigningKey) {
  const auto offer = Offer(fixtures::kSignedManifest);
  const auto key = Key(fixtures::kTestKey);
  EXPECT_TRUE(modVerify::VerifySignature(key, offer.signedText, offer.signature));

  // Any change of the text or the signature, or another key.
  std::string text = offer.signedText;
  text[0] = '2';
  EXPECT_FALSE(modVerify::VerifySignature(key, text, offer.signature));
  text = offer.signedText;
  text.push_back('\n');
  EXPECT_FALSE(modVerify::VerifySignature(key, text, offer.signature));
  for (size_t i : {0u, 31u, 32u, 63u}) {
    auto sig = offer.signature;
    sig[i] ^= 0x01;
    EXPECT_FALSE(modVerify::VerifySignature(key, offer.signedText, sig)) << i;
  }
  EXPECT_FALSE(modVerify::VerifySignature(key, offer.signedText, signedoffer::Signature{}));
  EXPECT_FALSE(modVerify::VerifySignature(Key(fixtures::kOtherKey), offer.signedText, offer.signature));
  const auto other = Offer(fixtures::kOtherKeyManifest);
  EXPECT_EQ(other.signedText, offer.signedText);
  EXPECT_FALSE(modVerify::VerifySignature(key, other.signedText, other.signature));
  EXPECT_TRUE(modVerify::VerifySignature(Key(fixtures::kOtherKey), other.signedText, other.signature));

  // A key that is no point of the curve, or of the wrong size.
  auto broken = key;
  broken[40] ^= 0x01;
  EXPECT_FALSE(modVerify::VerifySignature(broken, offer.signedText, offer.signature));
  EXPECT_FALSE(modVerify::VerifySignature({}, offer.signedText, offer.signature));
  EXPECT_FALSE(modVerify::VerifySignature(std::vector<std::uint8_t>(key.begin(), key.end() - 1), offer.signedText,
                                          offer.signature));
}
