// The Win32 side speaks wchar_t; pure code speaks char16_t. Both are UTF-16
// on Windows, so the conversion is a copy.
#pragma once

#include <string>
#include <string_view>

namespace win {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wchar_t is UTF-16");

inline std::wstring W(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
inline std::u16string U(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }

}  // namespace win
