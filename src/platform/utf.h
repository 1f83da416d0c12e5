// UTF-8 and UTF-16, the same on every platform: POSIX names and arguments
// travel through it, and the stream listing writes its lines with it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat {

// UTF-8 bytes to UTF-16: each byte that is not part of a valid UTF-8
// sequence becomes the lone surrogate U+DC80 + byte.
std::u16string utf8_to_utf16_escaped(std::string_view bytes);
// The inverse: lone surrogates U+DC80..U+DCFF become their bytes again;
// other lone surrogates are written in their three-byte form.
std::string utf16_to_utf8_escaped(std::u16string_view text);

// Appends the UTF-8 form of `text` to `out`, every lone surrogate in its
// three-byte form (escaped_bytes: U+DC80..U+DCFF as their bytes instead),
// and stops before the first character that would take `out` past
// `max_bytes`, so that a bounded buffer never ends inside a character.
void append_utf8(std::string& out, std::u16string_view text, bool escaped_bytes,
                 size_t max_bytes = std::string::npos);

}  // namespace plat
