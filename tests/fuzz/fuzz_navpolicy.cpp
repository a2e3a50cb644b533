// Addresses from pages, scripts and redirects: whatever the navigation
// policy lets stay is the blank page, a script address run in a page of the
// site, or a clean address on one of the site's hosts; nothing it hands to
// the default browser is other than a clean http or https address, and the
// statistics browser hands nothing on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/mainwindow/hiddenchars.h"
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
  using navpolicy::Kind;
  using navpolicy::Verdict;
  // The first byte picks the kind of navigation and whether a form posts.
  if (size == 0) return 0;
  const Kind kind = static_cast<Kind>(data[0] % 3);
  const bool post = (data[0] & 4) != 0;
  const std::u16string address = text::Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  static const navpolicy::Site site = navpolicy::Site::Hosts(u"http://127.0.0.1:18082", u"media.example.cn:8080");
  static const navpolicy::Site statistics = navpolicy::Site::OneAddress(u"http://127.0.0.1:18083/count/?all");
  constexpr std::u16string_view kShown = u"http://127.0.0.1:18082/list";

  const Verdict navigation = navpolicy::ForNavigation({address, kind, post, kShown}, site);
  Check(navpolicy::ForNewWindow(address, site) != Verdict::kStay);
  Check(navpolicy::ForNewWindow(address, statistics) == Verdict::kRefuse);
  const Verdict counted = navpolicy::ForNavigation({address, kind, post, kShown}, statistics);
  Check(counted != Verdict::kDefaultBrowser);
  if (kind != Kind::kFrame && counted == Verdict::kStay) {
    Check(address == u"http://127.0.0.1:18083/count/?all" || StartsWithIgnoringCase(address, u"about:blank"));
  }
  if (kind == Kind::kFrame || navigation == Verdict::kRefuse) return 0;

  // A script address runs in the site's document, whatever it holds.
  const std::u16string encoded = navpolicy::Encoded(address);
  if (StartsWithIgnoringCase(encoded, u"javascript:")) {
    Check(navigation == Verdict::kStay && kind == Kind::kTopLevel);
    return 0;
  }
  // Nothing else that stays or goes to the shell is long or holds a raw
  // space; nothing that goes to the shell hides characters.
  Check(encoded.size() <= navpolicy::kMaxAddress && encoded.find(u' ') == std::u16string::npos);
  if (navigation == Verdict::kDefaultBrowser) Check(!hiddenchars::HoldsHidden(encoded));
  if (encoded.size() == 11 && StartsWithIgnoringCase(encoded, u"about:blank")) {
    Check(navigation == Verdict::kStay);
    return 0;
  }
  Check(StartsWithIgnoringCase(encoded, u"http://") || StartsWithIgnoringCase(encoded, u"https://"));
  Check(navigation == Verdict::kStay || (!post && navpolicy::IsWebAddress(encoded)));
  const std::u16string_view rest = std::u16string_view(encoded).substr(encoded.find(u"//") + 2);
  const std::u16string_view authority = rest.substr(0, rest.find_first_of(u"/?#"));
  Check(authority.find_first_of(u"@\\%") == std::u16string_view::npos);
  const std::size_t leads = encoded.size() - rest.size() + authority.size();
  Check(!hiddenchars::HoldsHidden(std::u16string_view(encoded).substr(0, leads)));
  if (navigation == Verdict::kStay) {
    // One of the site's hosts: its name, and its port however it is written.
    std::u16string_view host = authority.substr(0, authority.find(u':'));
    std::u16string_view port = authority.find(u':') == std::u16string_view::npos
                                   ? std::u16string_view()
                                   : authority.substr(authority.find(u':') + 1);
    while (!port.empty() && port.front() == u'0') port.remove_prefix(1);
    const bool https = StartsWithIgnoringCase(encoded, u"https://");
    const bool ownPort = port.empty() || port == (https ? u"443" : u"80");
    Check((host == u"127.0.0.1" && (ownPort || port == u"18082")) ||
          (StartsWithIgnoringCase(host, u"media.example.cn") && host.size() == 16 && (ownPort || port == u"8080")));
  }
  return 0;
}
