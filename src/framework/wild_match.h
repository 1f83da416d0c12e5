// The exclusion list's pattern matcher: '*', '?', '[set]' and '\' escapes.
#pragma once

#include <string_view>

// 0 when `text` matches `pattern`, 1 when it does not.
int wild_match(std::u16string_view pattern, std::u16string_view text);
