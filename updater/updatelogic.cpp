#include "updater/updatelogic.h"

#include <charconv>
#include <cstdlib>
#include <limits>

#include "common/text.h"

namespace updatelogic {

namespace {

constexpr char16_t kTags[4][2][16] = {
    {u"<downurl>", u"</downurl>"},
    {u"<exename>", u"</exename>"},
    {u"<filesize>", u"</filesize>"},
    {u"<opendownfile>", u"</opendownfile>"},
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// An exact decimal number: sign, significant digits and the power of ten
// that the last digit stands for.
struct Decimal {
  bool negative = false;
  std::string digits;  // without leading zeros; empty means zero
  long long exponent = 0;
};

// CLng-style syntax: blanks, sign, digits with one optional point (at least
// one digit), optional exponent with sign and digits, blanks.
std::optional<Decimal> ParseDecimal(std::u16string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  Decimal d;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) d.negative = s[i++] == u'-';
  bool anyDigit = false;
  long long pointShift = 0;
  auto takeDigit = [&](char16_t c) {
    anyDigit = true;
    if (c == u'0' && d.digits.empty()) return;
    d.digits.push_back(static_cast<char>(c));
  };
  while (i < n && IsDigit(s[i])) takeDigit(s[i++]);
  if (i < n && s[i] == u'.') {
    ++i;
    while (i < n && IsDigit(s[i])) {
      takeDigit(s[i++]);
      --pointShift;
    }
  }
  if (!anyDigit) return std::nullopt;
  long long exp = 0;
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) expNegative = s[i++] == u'-';
    if (i >= n || !IsDigit(s[i])) return std::nullopt;
    while (i < n && IsDigit(s[i])) {
      // Saturate: any exponent this large over- or underflows anyway.
      if (exp < 1'000'000) exp = exp * 10 + (s[i] - u'0');
      ++i;
    }
    if (expNegative) exp = -exp;
  }
  while (i < n && IsBlank(s[i])) ++i;
  if (i != n) return std::nullopt;
  // Digits dropped as leading zeros after the point still shifted the
  // exponent; trailing zeros of the digits are folded into it.
  d.exponent = exp + pointShift;
  while (!d.digits.empty() && d.digits.back() == '0') {
    d.digits.pop_back();
    ++d.exponent;
  }
  return d;
}

// Rounds to a whole number, halves to even; nothing when the magnitude
// exceeds `limit`.
std::optional<long long> RoundHalfEven(const Decimal& d, long long limitPositive, long long limitNegative) {
  if (d.digits.empty()) return 0;
  const long long len = static_cast<long long>(d.digits.size());
  const long long intLen = len + d.exponent;  // digits before the point
  if (intLen > 12) return std::nullopt;       // far beyond 32 bits
  long long whole = 0;
  for (long long k = 0; k < intLen; ++k) {
    const long long idx = k;
    whole = whole * 10 + (idx < len ? d.digits[static_cast<size_t>(idx)] - '0' : 0);
  }
  // Fraction digits start at index intLen (negative: leading zeros).
  if (intLen < len) {
    const long long first = intLen;  // index of the first fraction digit
    int firstDigit = first >= 0 ? d.digits[static_cast<size_t>(first)] - '0' : 0;
    bool restNonZero = first + 1 < len;  // digits carry no trailing zeros
    if (first < 0) restNonZero = true;   // the digits lie further right
    if (firstDigit > 5 || (firstDigit == 5 && restNonZero) || (firstDigit == 5 && !restNonZero && whole % 2 == 1))
      ++whole;
  }
  if (d.negative ? whole > limitNegative : whole > limitPositive) return std::nullopt;
  return d.negative ? -whole : whole;
}

bool IsValidUtf8(std::string_view b) {
  size_t i = 0;
  while (i < b.size()) {
    const unsigned char c = static_cast<unsigned char>(b[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= b.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char t = static_cast<unsigned char>(b[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

std::u16string Utf16(std::string_view b, bool bigEndian) {
  std::u16string out;
  out.reserve(b.size() / 2);
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const unsigned char x = static_cast<unsigned char>(b[i]);
    const unsigned char y = static_cast<unsigned char>(b[i + 1]);
    out.push_back(static_cast<char16_t>(bigEndian ? (x << 8) | y : (y << 8) | x));
  }
  return out;
}

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool IsDeviceName(std::u16string_view base) {
  for (std::u16string_view dev : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
    if (EqualsNoCase(base, dev)) return true;
  if (base.size() == 4 && (EqualsNoCase(base.substr(0, 3), u"COM") || EqualsNoCase(base.substr(0, 3), u"LPT"))) {
    const char16_t c = base[3];
    // Windows also reserves the superscript digits.
    return IsDigit(c) || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
  }
  return false;
}

}  // namespace

std::optional<std::u16string> ReadField(std::u16string_view text, std::u16string_view open,
                                        std::u16string_view close) {
  const size_t o = text.find(open);
  if (o == std::u16string_view::npos) return std::nullopt;
  const size_t c = text.find(close);
  if (c == std::u16string_view::npos) return std::nullopt;
  // 1-based positions, as the 16-bit variables hold them.
  const unsigned long long start = o + 1ULL + open.size();
  const unsigned long long closePos = c + 1ULL;
  if (start > kMaxPosition || closePos > kMaxPosition) return std::nullopt;
  if (closePos < start) return std::nullopt;
  return std::u16string(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(closePos - start)));
}

std::optional<std::int32_t> ToLong(std::u16string_view s) {
  const auto d = ParseDecimal(s);
  if (!d) return std::nullopt;
  const auto v = RoundHalfEven(*d, 2147483647LL, 2147483648LL);
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(*v);
}

std::optional<std::int16_t> ToInteger(std::u16string_view s) {
  const auto d = ParseDecimal(s);
  if (!d) return std::nullopt;
  const auto v = RoundHalfEven(*d, 32767, 32768);
  if (!v) return std::nullopt;
  return static_cast<std::int16_t>(*v);
}

std::vector<std::u16string> SplitVersion(std::u16string_view s) {
  std::vector<std::u16string> parts;
  if (s.empty()) return parts;
  size_t from = 0;
  for (;;) {
    const size_t dot = s.find(u'.', from);
    parts.emplace_back(s.substr(from, dot == std::u16string_view::npos ? std::u16string_view::npos : dot - from));
    if (dot == std::u16string_view::npos) return parts;
    from = dot + 1;
  }
}

double PartValue(std::u16string_view part) {
  std::string num;  // the recognised number in plain ASCII
  enum { kSign, kInt, kFrac, kExpSign, kExpDigits } at = kSign;
  bool mantissaDigit = false;
  size_t beforeExp = 0;  // length of num without an exponent that has no digits
  for (char16_t c : part) {
    if (c == u' ' || c == u'\t' || c == u'\n') continue;
    if (at == kSign && (c == u'+' || c == u'-')) {
      num.push_back(static_cast<char>(c));
      at = kInt;
    } else if ((at == kSign || at == kInt || at == kFrac) && IsDigit(c)) {
      num.push_back(static_cast<char>(c));
      mantissaDigit = true;
      if (at == kSign) at = kInt;
    } else if ((at == kSign || at == kInt) && c == u'.') {
      num.push_back('.');
      at = kFrac;
    } else if ((at == kInt || at == kFrac) && mantissaDigit &&
               (c == u'e' || c == u'E' || c == u'd' || c == u'D')) {
      beforeExp = num.size();
      num.push_back('e');
      at = kExpSign;
    } else if (at == kExpSign && (c == u'+' || c == u'-')) {
      num.push_back(static_cast<char>(c));
      at = kExpDigits;
    } else if ((at == kExpSign || at == kExpDigits) && IsDigit(c)) {
      num.push_back(static_cast<char>(c));
      at = kExpDigits;
      beforeExp = 0;
    } else {
      break;
    }
  }
  if (!mantissaDigit) return 0.0;
  if (beforeExp) num.resize(beforeExp);  // "1e" and "1e-" read as 1
  // Our own ASCII text; the program never changes the C locale.
  return std::strtod(num.c_str(), nullptr);
}

bool IsNewer(const std::vector<std::u16string>& local, const std::vector<std::u16string>& server) {
  for (size_t i = 0; i < 3; ++i) {
    if (i >= server.size() || i >= local.size()) return false;
    const double s = PartValue(server[i]);
    const double l = PartValue(local[i]);
    if (s < l) return false;
    if (s > l) return true;
  }
  return false;
}

int ReadUpdateFields(std::u16string_view manifest, UpdateInfo& info) {
  for (int f = 0; f < 4; ++f) {
    const auto value = ReadField(manifest, kTags[f][0], kTags[f][1]);
    if (!value) return f;
    switch (f) {
      case 0:
        info.downUrl = *value;
        break;
      case 1:
        info.exeName = *value;
        break;
      case 2: {
        const auto n = ToLong(*value);
        if (!n) return f;
        info.fileSize = *n;
        break;
      }
      default: {
        const auto n = ToInteger(*value);
        if (!n) return f;
        info.openDownFile = *n;
        break;
      }
    }
  }
  return 4;
}

unsigned LaunchDelayMs(std::int16_t openDownFile) {
  if (openDownFile <= 0) return 1000;
  return (openDownFile > 32 ? 32u : static_cast<unsigned>(openDownFile)) * 1000u;
}

bool IsPlainFileName(std::u16string_view name) {
  if (name.empty()) return false;
  for (char16_t c : name) {
    if (c < 32) return false;
    if (std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) return false;
  }
  if (name.back() == u'.' || name.back() == u' ') return false;
  // "NUL.exe" and "con .txt" are the device too.
  std::u16string_view base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  return !IsDeviceName(base);
}

namespace {

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t c = s[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Leading decimal digits; false without any.
bool SkipDigits(std::u16string_view& s) {
  size_t n = 0;
  while (n < s.size() && s[n] >= u'0' && s[n] <= u'9') ++n;
  s.remove_prefix(n);
  return n > 0;
}

}  // namespace

bool IsWebAddress(std::u16string_view address) {
  for (std::u16string_view scheme : {std::u16string_view(u"http://"), std::u16string_view(u"https://")}) {
    if (!StartsWithNoCase(address, scheme)) continue;
    const std::u16string_view rest = address.substr(scheme.size());
    return !rest.empty() && rest.front() != u'/' && rest.front() != u'\\' && rest.front() != u':';
  }
  return false;
}

bool IsRedirectStatus(unsigned status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

namespace {

constexpr std::u16string_view kTemporaryPrefix = u"~velUpdate-";
constexpr std::u16string_view kTemporarySuffix = u".tmp";
constexpr size_t kRandomDigits = 16;

// Decimal digits as a number prints them: no sign, no leading zero.
bool IsPrintedNumber(std::u16string_view s) {
  if (s.empty() || s.size() > 10 || s.front() == u'0') return false;
  std::u16string_view rest = s;
  return SkipDigits(rest) && rest.empty();
}

bool EndsWithNoCase(std::u16string_view s, std::u16string_view suffix) {
  return s.size() >= suffix.size() && StartsWithNoCase(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace

std::u16string OwnTemporaryName(std::uint64_t random) {
  std::u16string name(kTemporaryPrefix);
  for (int shift = 60; shift >= 0; shift -= 4) name += u"0123456789abcdef"[(random >> shift) & 0xF];
  return name + std::u16string(kTemporarySuffix);
}

bool IsOwnTemporaryName(std::u16string_view name) {
  if (name.size() <= kTemporarySuffix.size() || name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix)
    return false;
  std::u16string_view rest = name.substr(0, name.size() - kTemporarySuffix.size());
  if (rest.substr(0, kTemporaryPrefix.size()) == kTemporaryPrefix) {
    rest.remove_prefix(kTemporaryPrefix.size());
    return rest.size() == kRandomDigits &&
           rest.find_first_not_of(u"0123456789abcdef") == std::u16string_view::npos;
  }
  // The names earlier updaters gave: "<installer>.exe.<pid>-<n>.tmp" for a
  // download, "probe.<pid>-<n>.tmp" for a write probe, the numbers as
  // printed.
  const size_t dash = rest.rfind(u'-');
  if (dash == std::u16string_view::npos || !IsPrintedNumber(rest.substr(dash + 1))) return false;
  rest = rest.substr(0, dash);
  const size_t dot = rest.rfind(u'.');
  if (dot == std::u16string_view::npos || !IsPrintedNumber(rest.substr(dot + 1))) return false;
  const std::u16string_view base = rest.substr(0, dot);
  return base == u"probe" || (base.size() > 4 && EndsWithNoCase(base, u".exe") && IsPlainFileName(base));
}

bool MoreThanAnnounced(std::uint64_t bytes, const std::optional<std::uint64_t>& contentLength,
                       std::int32_t fileSize) {
  if (contentLength && bytes > *contentLength) return true;
  return fileSize > 0 && bytes > static_cast<std::uint64_t>(fileSize);
}

bool IsCompleteDownload(const DownloadOutcome& d, std::int32_t fileSize) {
  if (!d.endedAtEndOfData || d.bytes == 0) return false;
  if (d.contentLength && d.bytes != *d.contentLength) return false;
  return fileSize <= 0 || d.bytes == static_cast<std::uint64_t>(fileSize);
}

DownloadResult DecideDownload(const TransferFacts& f, std::int32_t fileSize) {
  if (!f.headed) {
    if (f.stalled) return DownloadResult::kStalled;
    return f.pastDeadline ? DownloadResult::kPastDeadline : DownloadResult::kOpenFailed;
  }
  if (f.status != 200) return DownloadResult::kNotOk;
  if (!f.fileMade) return DownloadResult::kFileFailed;
  if (f.stalled) return DownloadResult::kStalled;
  if (f.pastDeadline) return DownloadResult::kPastDeadline;
  if (!f.written) return DownloadResult::kFileFailed;
  if (f.quitting || !IsCompleteDownload(f.outcome, fileSize)) return DownloadResult::kIncomplete;
  if (f.hashMatches && !*f.hashMatches) return DownloadResult::kHashMismatch;
  return DownloadResult::kStored;
}

std::uint64_t DownloadDeadlineMs(std::uint64_t baseMs, std::int32_t fileSize,
                                 const std::optional<std::uint64_t>& contentLength) {
  std::uint64_t size = kDeadlineSizeCap;
  if (fileSize > 0) {
    size = static_cast<std::uint64_t>(fileSize);
  } else if (contentLength) {
    size = *contentLength < kDeadlineSizeCap ? *contentLength : kDeadlineSizeCap;
  }
  // Whole milliseconds, rounded up; no overflow for any size below the cap.
  return baseMs + (size * 1000 + kDeadlineBytesPerSecond - 1) / kDeadlineBytesPerSecond;
}

bool IsUsableInstaller(std::uint64_t size, std::int32_t fileSize) {
  return size > 0 && (fileSize <= 0 || size == static_cast<std::uint64_t>(fileSize));
}

std::optional<std::uint64_t> ParseContentLength(std::u16string_view h) {
  while (!h.empty() && IsBlank(h.front())) h.remove_prefix(1);
  while (!h.empty() && IsBlank(h.back())) h.remove_suffix(1);
  if (h.empty() || h.size() > 19) return std::nullopt;
  std::uint64_t v = 0;
  for (char16_t c : h) {
    if (!IsDigit(c)) return std::nullopt;
    v = v * 10 + (c - u'0');
  }
  return v;
}

std::u16string TimeSuffix(double secondsSinceMidnight) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(secondsSinceMidnight),
                               std::chars_format::general, 7);
  return std::u16string(buf, r.ptr);
}

std::optional<std::u16string> DecodeUnicodeText(std::string_view b) {
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return text::Utf8ToUtf16(b.substr(3));
  if (b.size() >= 2 && b.substr(0, 2) == "\xFF\xFE") return Utf16(b.substr(2), false);
  if (b.size() >= 2 && b.substr(0, 2) == "\xFE\xFF") return Utf16(b.substr(2), true);
  if (IsValidUtf8(b)) return text::Utf8ToUtf16(b);
  return std::nullopt;
}

}  // namespace updatelogic
