// Installer names from the manifest: whatever IsPlainFileName accepts must be
// a name directly inside the download folder, never a device or a path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "updater/updatelogic.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string name = text::Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  if (!updatelogic::IsPlainFileName(name)) return 0;
  Check(!name.empty());
  for (char16_t c : name) Check(c >= 32 && std::u16string_view(u"\\/:<>\"|?*").find(c) == std::u16string_view::npos);
  Check(name.back() != u'.' && name.back() != u' ');
  // No reserved device name, with or without an extension.
  std::u16string stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  for (auto& c : stem) c = Upper(c);
  for (const char16_t* dev : {u"CON", u"PRN", u"AUX", u"NUL"}) Check(stem != dev);
  if (stem.size() == 4 && (stem.rfind(u"COM", 0) == 0 || stem.rfind(u"LPT", 0) == 0))
    Check(!(stem[3] >= u'1' && stem[3] <= u'9'));
  return 0;
}
