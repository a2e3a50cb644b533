#include "client/mainwindow/navpolicy.h"

#include <optional>
#include <string>

namespace navpolicy {

namespace {

// The parts of a plain web address that decide where it leads.
struct WebAddress {
  std::u16string scheme;  // "http" or "https"
  std::u16string host;    // ASCII letters in lower case
  unsigned port = 0;      // the scheme's own when none is written
};

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHex(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

// Characters a browser or the shell would drop, reorder or hide: controls,
// spaces and the invisible formatting marks. No clean address holds them.
bool IsHidden(char16_t c) {
  return c <= 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xA0 || c == 0x00AD || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
         c >= 0xFFF0;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

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

std::optional<WebAddress> ParseWeb(std::u16string_view a) {
  if (a.empty() || a.size() > kMaxAddress) return std::nullopt;
  for (char16_t c : a) {
    if (IsHidden(c)) return std::nullopt;
  }
  const std::size_t colon = a.find(u':');
  if (colon == std::u16string_view::npos || colon == 0) return std::nullopt;
  WebAddress web;
  for (char16_t c : a.substr(0, colon)) web.scheme.push_back(Lower(c));
  if (web.scheme == u"http") {
    web.port = 80;
  } else if (web.scheme == u"https") {
    web.port = 443;
  } else {
    return std::nullopt;
  }
  // Exactly two forward slashes: "http:\\" and "http:/" are read
  // differently by different readers.
  std::u16string_view rest = a.substr(colon + 1);
  if (rest.size() < 2 || rest[0] != u'/' || rest[1] != u'/') return std::nullopt;
  rest.remove_prefix(2);
  const std::u16string_view authority = rest.substr(0, rest.find_first_of(u"/?#"));
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
  // "host:" with nothing after the colon is the scheme's own port.
  if (!port.empty()) {
    const std::optional<unsigned> number = ParsePort(port);
    if (!number) return std::nullopt;
    web.port = *number;
  }
  for (char16_t c : host) web.host.push_back(Lower(c));
  return web;
}

}  // namespace

Verdict ForNavigation(std::u16string_view address, std::u16string_view home) {
  if (EqualsIgnoringCase(address, u"about:blank")) return Verdict::kStay;
  const std::optional<WebAddress> web = ParseWeb(address);
  if (!web) return Verdict::kRefuse;
  const std::optional<WebAddress> site = ParseWeb(home);
  if (site && web->scheme == site->scheme && web->host == site->host && web->port == site->port)
    return Verdict::kStay;
  return Verdict::kDefaultBrowser;
}

Verdict ForNewWindow(std::u16string_view address) {
  return ParseWeb(address) ? Verdict::kDefaultBrowser : Verdict::kRefuse;
}

}  // namespace navpolicy
