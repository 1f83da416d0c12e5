// The UTF-8/UTF-16 codec of utf.h; nothing in it depends on the system.
#include "platform/utf.h"

#include <algorithm>
#include <cstdint>

namespace plat {

std::u16string utf8_to_utf16_escaped(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    size_t len = 0;
    uint32_t cp = 0, min = 0;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 3; cp = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 4; cp = b & 0x07; min = 0x10000; }
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid.
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
      ok = false;
    if (!ok) {
      out.push_back(static_cast<char16_t>(0xDC00 + b));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

void append_utf8(std::string& out, std::u16string_view text, bool escaped_bytes,
                 size_t max_bytes) {
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    // Runs of ASCII, most of every path, go over at once.
    size_t ascii = i;
    while (ascii < n && text[ascii] < 0x80) ++ascii;
    if (ascii > i) {
      const size_t room = out.size() < max_bytes ? max_bytes - out.size() : 0;
      const size_t take = std::min(ascii - i, room);
      const size_t at = out.size();
      out.resize(at + take);
      for (size_t k = 0; k < take; ++k) out[at + k] = static_cast<char>(text[i + k]);
      if (take < ascii - i) return;
      i = ascii - 1;
      continue;
    }
    uint32_t cp = text[i];
    size_t units = 1;
    char bytes[4];
    size_t length;
    if (escaped_bytes && cp >= 0xDC80 && cp <= 0xDCFF) {  // an escaped byte
      bytes[0] = static_cast<char>(cp - 0xDC00);
      length = 1;
    } else {
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
        units = 2;
      }
      if (cp < 0x80) {
        bytes[0] = static_cast<char>(cp);
        length = 1;
      } else if (cp < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
        length = 2;
      } else if (cp < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
        length = 3;
      } else {
        bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
        bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
        length = 4;
      }
    }
    if (length > max_bytes || out.size() > max_bytes - length) return;
    out.append(bytes, length);
    i += units - 1;
  }
}

std::string utf16_to_utf8_escaped(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  append_utf8(out, text, true);
  return out;
}

}  // namespace plat
