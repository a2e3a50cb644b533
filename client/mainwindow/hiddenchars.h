// Characters a reader of an address drops, hides or turns around: controls,
// formatting marks, spaces other than U+0020, separators, default-ignorable
// code points and noncharacters, by their Unicode properties
// (hiddenchars_table.inc, made by tools/gen_hiddenchars.py). No Windows
// header.
#pragma once

#include <string_view>

namespace hiddenchars {

bool IsHidden(char32_t c);

// True when `text` holds a hidden character, or a surrogate that is not half
// of a pair (UTF-16 that no reader decodes alike).
bool HoldsHidden(std::u16string_view text);

}  // namespace hiddenchars
