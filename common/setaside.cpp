#include "common/setaside.h"

#include <cstdint>

namespace setaside {

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Leading decimal digits of `s` as a number; false without any, or past
// 32 bits (neither a process id nor a tick count).
bool TakeNumber(std::u16string_view& s, std::uint64_t& value) {
  size_t n = 0;
  value = 0;
  while (n < s.size() && s[n] >= u'0' && s[n] <= u'9') {
    value = value * 10 + static_cast<unsigned>(s[n] - u'0');
    if (value > 0xFFFFFFFFu) return false;
    ++n;
  }
  s.remove_prefix(n);
  return n > 0;
}

// The tick of "<name>.<pid>-<tick>.old", when the entry is one; `pid` gets
// the process id.
std::optional<std::uint64_t> TickOf(std::u16string_view entry, std::u16string_view name, std::uint64_t& pid) {
  if (entry.size() <= name.size() + 1 || !SameName(entry.substr(0, name.size()), name) || entry[name.size()] != u'.')
    return std::nullopt;
  std::u16string_view rest = entry.substr(name.size() + 1);
  std::uint64_t tick = 0;
  if (!TakeNumber(rest, pid) || rest.empty() || rest.front() != u'-') return std::nullopt;
  rest.remove_prefix(1);
  if (!TakeNumber(rest, tick) || !SameName(rest, u".old")) return std::nullopt;
  return tick;
}

}  // namespace

bool IsAsideOf(std::u16string_view entry, std::u16string_view name) {
  std::uint64_t pid = 0;
  return TickOf(entry, name, pid).has_value();
}

std::optional<std::u16string> AsideToRestore(std::u16string_view name, const std::vector<std::u16string>& entries) {
  std::optional<std::u16string> best;
  std::uint64_t bestTick = 0;
  for (const auto& e : entries) {
    if (SameName(e, name)) return std::nullopt;
    std::uint64_t pid = 0;
    const auto tick = TickOf(e, name, pid);
    // Process id 0 (no installer has it) marks a file the uninstaller moved
    // aside: the product was removed, and its name stays free.
    if (tick && pid != 0 && (!best || *tick > bestTick)) {
      best = e;
      bestTick = *tick;
    }
  }
  return best;
}

}  // namespace setaside
