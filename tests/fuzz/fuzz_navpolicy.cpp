// Addresses from pages and scripts: whatever the navigation policy lets stay
// is the blank page or a clean address on the music host, and nothing it
// hands to the default browser is other than a clean http or https address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/mainwindow/navpolicy.h"
#include "common/text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool StartsWithIgnoringCase(std::u16string_view s, std::u16string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char16_t c = s[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using navpolicy::Verdict;
  const std::u16string address = text::Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  constexpr std::u16string_view kHome = u"http://127.0.0.1:18082";

  const Verdict navigation = navpolicy::ForNavigation(address, kHome);
  const Verdict window = navpolicy::ForNewWindow(address);
  Check(window != Verdict::kStay);
  if (navigation == Verdict::kRefuse) return 0;
  Check(address.size() <= navpolicy::kMaxAddress);
  // Nothing that stays or goes to the shell hides characters or names a
  // user before the host.
  for (char16_t c : address) Check(c > 0x20 && c != 0x7F);
  const bool blank = address.size() == 11 && StartsWithIgnoringCase(address, u"about:blank");
  if (blank) {
    Check(navigation == Verdict::kStay && window == Verdict::kRefuse);
    return 0;
  }
  Check(StartsWithIgnoringCase(address, u"http://") || StartsWithIgnoringCase(address, u"https://"));
  Check(window == Verdict::kDefaultBrowser);
  const std::u16string_view rest = std::u16string_view(address).substr(address.find(u"//") + 2);
  const std::u16string_view authority = rest.substr(0, rest.find_first_of(u"/?#"));
  Check(authority.find_first_of(u"@\\%") == std::u16string_view::npos);
  if (navigation == Verdict::kStay) {
    // The music host itself: its name, and its port however it is written.
    Check(StartsWithIgnoringCase(address, u"http://127.0.0.1:"));
    std::u16string_view port = authority.substr(10);
    while (!port.empty() && port.front() == u'0') port.remove_prefix(1);
    Check(port == u"18082");
  }
  return 0;
}
