#include "client/mainwindow/navpolicy.h"

#include <optional>

#include "client/mainwindow/hiddenchars.h"

namespace navpolicy {

namespace {

// The parts of a plain web address that decide where it leads.
struct WebAddress {
  std::u16string scheme;  // "http" or "https"
  std::u16string host;    // ASCII letters in lower case
  unsigned port = 0;      // the scheme's own when none is written
  unsigned written = 0;   // the port written; 0 when none
};

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHex(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

std::u16string Lowered(std::u16string_view s) {
  std::u16string out;
  for (char16_t c : s) out.push_back(Lower(c));
  return out;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

unsigned OwnPort(std::u16string_view scheme) { return scheme == u"https" ? 443 : 80; }

// No clean address is longer, holds a raw space or hides characters.
bool IsClean(std::u16string_view a) {
  return !a.empty() && a.size() <= kMaxAddress && a.find(u' ') == std::u16string_view::npos &&
         !hiddenchars::HoldsHidden(a);
}

// Controls, which readers drop or stop at.
bool HoldsControl(std::u16string_view a) {
  for (char16_t c : a) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  }
  return false;
}

// How much of an address ParseWeb judges clean: all of it (what the default
// browser is given), or where it leads (a page of the site, whose path and
// query are the site's own and may hold an ideographic space of a search in
// the listener's language; controls are refused there all the same).
enum class Judge { kAll, kWhereItLeads };

// A host name: letters, digits, '-', '_' and '.'; other scripts (IDN) as
// they are. Percent signs and the other URL delimiters are not names.
bool IsHostName(std::u16string_view host) {
  if (host.empty()) return false;
  for (char16_t c : host) {
    if (c >= 0x80) continue;
    if (!(IsAlpha(c) || IsDigit(c) || c == u'-' || c == u'_' || c == u'.')) return false;
  }
  return true;
}

// "[...]" of an IPv6 address: hex digits, ':' and '.' only.
bool IsIpv6Literal(std::u16string_view host) {
  if (host.size() < 3 || host.front() != u'[' || host.back() != u']') return false;
  for (char16_t c : host.substr(1, host.size() - 2)) {
    if (!(IsHex(c) || c == u':' || c == u'.')) return false;
  }
  return true;
}

// Decimal 1..65535; leading zeros are read as the engine reads them.
std::optional<unsigned> ParsePort(std::u16string_view text) {
  if (text.empty()) return std::nullopt;
  unsigned value = 0;
  for (char16_t c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - u'0');
    if (value > 65535) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return value;
}

// "host[:port]" (also "[v6]:port").
std::optional<WebAddress> ParseAuthority(std::u16string_view authority) {
  // User information (a name before the host) and backslashes make the host
  // a matter of which reader looks.
  if (authority.find_first_of(u"@\\") != std::u16string_view::npos) return std::nullopt;
  std::u16string_view host = authority, port;
  if (!authority.empty() && authority.front() == u'[') {
    const std::size_t close = authority.find(u']');
    if (close == std::u16string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    const std::u16string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != u':') return std::nullopt;
      port = after.substr(1);
    }
    if (!IsIpv6Literal(host)) return std::nullopt;
  } else {
    const std::size_t portColon = authority.find(u':');
    if (portColon != std::u16string_view::npos) {
      host = authority.substr(0, portColon);
      port = authority.substr(portColon + 1);
    }
    if (!IsHostName(host)) return std::nullopt;
  }
  WebAddress web;
  // "host:" with nothing after the colon is the scheme's own port.
  if (!port.empty()) {
    const std::optional<unsigned> number = ParsePort(port);
    if (!number) return std::nullopt;
    web.written = *number;
  }
  web.host = Lowered(host);
  return web;
}

std::optional<WebAddress> ParseWeb(std::u16string_view a, Judge judge = Judge::kAll) {
  if (judge == Judge::kAll ? !IsClean(a) : (a.empty() || a.size() > kMaxAddress || HoldsControl(a) ||
                                             a.find(u' ') != std::u16string_view::npos))
    return std::nullopt;
  const std::size_t colon = a.find(u':');
  if (colon == std::u16string_view::npos || colon == 0) return std::nullopt;
  const std::u16string scheme = Lowered(a.substr(0, colon));
  if (scheme != u"http" && scheme != u"https") return std::nullopt;
  // Exactly two forward slashes: "http:\\" and "http:/" are read
  // differently by different readers.
  std::u16string_view rest = a.substr(colon + 1);
  if (rest.size() < 2 || rest[0] != u'/' || rest[1] != u'/') return std::nullopt;
  rest.remove_prefix(2);
  const std::u16string_view authority = rest.substr(0, rest.find_first_of(u"/?#"));
  if (hiddenchars::HoldsHidden(a.substr(0, colon + 3 + authority.size()))) return std::nullopt;
  std::optional<WebAddress> web = ParseAuthority(authority);
  if (!web) return std::nullopt;
  web->scheme = scheme;
  web->port = web->written ? web->written : OwnPort(scheme);
  return web;
}

}  // namespace

Site Site::Hosts(std::u16string_view home, std::u16string_view moreHosts) {
  Site site;
  if (const std::optional<WebAddress> web = ParseWeb(home)) site.hosts_.push_back({web->host, web->written});
  while (!moreHosts.empty()) {
    const std::size_t space = moreHosts.find(u' ');
    const std::u16string_view entry = moreHosts.substr(0, space);
    moreHosts.remove_prefix(space == std::u16string_view::npos ? moreHosts.size() : space + 1);
    if (entry.empty() || !IsClean(entry)) continue;
    if (const std::optional<WebAddress> host = ParseAuthority(entry))
      site.hosts_.push_back({host->host, host->written});
  }
  return site;
}

Site Site::OneAddress(std::u16string_view address) {
  Site site;
  site.address_ = address;
  site.handsOn_ = false;
  return site;
}

bool Site::Holds(std::u16string_view address) const {
  if (!address_.empty()) return address == address_ && IsClean(address);
  const std::optional<WebAddress> web = ParseWeb(address, Judge::kWhereItLeads);
  if (!web) return false;
  for (const Host& h : hosts_) {
    if (h.name == web->host && (web->port == OwnPort(web->scheme) || web->port == h.port)) return true;
  }
  return false;
}

std::u16string Encoded(std::u16string_view address) {
  std::u16string out;
  out.reserve(address.size());
  for (char16_t c : address) {
    if (c == u' ') {
      out += u"%20";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool IsWebAddress(std::u16string_view address) { return ParseWeb(address).has_value(); }

bool IsScriptAddress(std::u16string_view address) {
  constexpr std::u16string_view kScheme = u"javascript:";
  return address.size() >= kScheme.size() && EqualsIgnoringCase(address.substr(0, kScheme.size()), kScheme);
}

Verdict ForNavigation(const Navigation& n, const Site& site) {
  if (n.kind == Kind::kFrame) return Verdict::kStay;
  const std::u16string a = Encoded(n.address);
  if (EqualsIgnoringCase(a, u"about:blank")) return Verdict::kStay;
  // A script address runs in the document the window shows: the site's
  // own code, which its page could run anyway.
  if (n.kind == Kind::kTopLevel && IsScriptAddress(a))
    return site.Holds(n.shown) ? Verdict::kStay : Verdict::kRefuse;
  if (site.Holds(a)) return Verdict::kStay;
  if (!IsWebAddress(a)) return Verdict::kRefuse;
  return site.HandsOn() && !n.post ? Verdict::kDefaultBrowser : Verdict::kRefuse;
}

Verdict ForNewWindow(std::u16string_view address, const Site& site) {
  return site.HandsOn() && IsWebAddress(Encoded(address)) ? Verdict::kDefaultBrowser : Verdict::kRefuse;
}

}  // namespace navpolicy
