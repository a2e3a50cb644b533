// The manifest comes over plain HTTP: whatever its bytes, reading its fields
// must not fault, and what it yields must keep the field rules.
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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = updatelogic::DecodeUnicodeText(bytes).value_or(text::Utf8ToUtf16(bytes));

  for (const auto& [open, close] : {std::pair{u"<version>", u"</version>"}, std::pair{u"<downurl>", u"</downurl>"},
                                    std::pair{u"<exename>", u"</exename>"}, std::pair{u"<filesize>", u"</filesize>"},
                                    std::pair{u"<opendownfile>", u"</opendownfile>"}}) {
    const auto value = updatelogic::ReadField(text, open, close);
    if (!value) continue;
    // A value is the text right after the first opening tag.
    const size_t at = text.find(open);
    Check(at != std::u16string::npos);
    Check(text.compare(at + std::char_traits<char16_t>::length(open), value->size(), *value) == 0);
    Check(at + std::char_traits<char16_t>::length(open) <= static_cast<size_t>(updatelogic::kMaxPosition));
  }

  updatelogic::UpdateInfo info;
  const int stored = updatelogic::ReadUpdateFields(text, info);
  Check(stored >= 0 && stored <= 4);
  if (stored < 3) Check(info.fileSize == 0);
  if (stored < 4) Check(info.openDownFile == 0);
  const unsigned delay = updatelogic::LaunchDelayMs(info.openDownFile);
  Check(delay >= 1000 && delay <= 32000);
  // A name the updater accepts never leads out of the download folder.
  if (updatelogic::IsPlainFileName(info.exeName)) {
    Check(!info.exeName.empty());
    Check(info.exeName.find_first_of(u"\\/:<>\"|?*") == std::u16string::npos);
    Check(info.exeName != u"." && info.exeName != u"..");
  }
  return 0;
}
