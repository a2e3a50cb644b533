// The hash and signature fields come over plain HTTP: whatever the bytes,
// decoding must not fault, must accept only the one way of writing a value
// and must give a signed text whose values cannot be told apart otherwise.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "updater/signedoffer.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}

std::u16string Base64(const std::vector<std::uint8_t>& in) {
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u16string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    const unsigned n = static_cast<unsigned>(std::min<size_t>(3, in.size() - i));
    unsigned v = in[i] << 16;
    if (n > 1) v |= in[i + 1] << 8;
    if (n > 2) v |= in[i + 2];
    out += static_cast<char16_t>(t[v >> 18]);
    out += static_cast<char16_t>(t[(v >> 12) & 63]);
    out += n > 1 ? static_cast<char16_t>(t[(v >> 6) & 63]) : u'=';
    out += n > 2 ? static_cast<char16_t>(t[v & 63]) : u'=';
  }
  return out;
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = text::Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));

  if (const auto bytes = signedoffer::DecodeBase64(text)) Check(Base64(*bytes) == text);
  if (const auto bytes = signedoffer::DecodeHex(text)) {
    Check(bytes->size() * 2 == text.size());
    static const char* x = "0123456789abcdef";
    for (size_t i = 0; i < bytes->size(); ++i) {
      Check(Lower(text[2 * i]) == x[(*bytes)[i] >> 4]);
      Check(Lower(text[2 * i + 1]) == x[(*bytes)[i] & 15]);
    }
  }

  if (const auto t = signedoffer::ParseUtcTime(text)) {
    Check(text.size() == 20 && *t >= 0 && *t <= 253402300799);
    Check(signedoffer::CheckExpiry(*t, *t) == signedoffer::Freshness::kFresh);
  }

  if (const auto offer = signedoffer::ReadSignedOffer(text)) {
    // Six values, each ended by the only line feeds of the text; the last
    // one the expiry, written in its one form.
    Check(!offer->signedText.empty() && offer->signedText.back() == '\n');
    Check(std::count(offer->signedText.begin(), offer->signedText.end(), '\n') == 6);
    Check(offer->expires >= 0 && offer->signedText.size() > 21);
    Check(signedoffer::ParseUtcTime(text::Utf8ToUtf16(offer->signedText.substr(offer->signedText.size() - 21, 20))) ==
          offer->expires);
    Check(offer->signedText.compare(0, text::Utf16ToUtf8(offer->version).size() + 1,
                                    text::Utf16ToUtf8(offer->version) + "\n") == 0);
    Check(text::Utf8ToUtf16(text::Utf16ToUtf8(offer->downUrl)) == offer->downUrl);
    Check(text::Utf8ToUtf16(text::Utf16ToUtf8(offer->exeName)) == offer->exeName);
  }
  return 0;
}
