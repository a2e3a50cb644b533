// UTF-8 / UTF-16 conversion and small text helpers. No Windows header:
// built natively too.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Ill-formed input becomes U+FFFD, one per maximal bad subsequence.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Strips one leading UTF-8 byte-order mark, if present.
std::string_view StripUtf8Bom(std::string_view bytes);

}  // namespace text
