// UTF-8 from outside (cfg.xml, manifests, downloads) must decode without
// fault, and what decodes must encode back to well-formed UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = text::Utf8ToUtf16(text::StripUtf8Bom(bytes));
  const std::string back = text::Utf16ToUtf8(wide);
  // Re-decoding well-formed output is lossless.
  if (text::Utf8ToUtf16(back) != wide) std::abort();
  if (wide.size() > size) std::abort();  // never more units than bytes
  return 0;
}
