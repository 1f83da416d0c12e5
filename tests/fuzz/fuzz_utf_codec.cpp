// The UTF-8/UTF-16 codec of names and arguments: every byte string comes
// back unchanged, every well-formed UTF-16 text too, and only bytes that
// are not UTF-8 travel as the escape units U+DC80..U+DCFF.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/utf.h"
#include "sandbox.h"

namespace {

bool well_formed_utf16(std::u16string_view t) {
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] >= 0xD800 && t[i] <= 0xDBFF) {
      if (i + 1 == t.size() || t[i + 1] < 0xDC00 || t[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (t[i] >= 0xDC00 && t[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// Code points of well-formed UTF-16 as a plain decoder sees them.
std::u32string code_points(std::u16string_view t) {
  std::u32string out;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] >= 0xD800 && t[i] <= 0xDBFF) {
      out.push_back(0x10000 + ((t[i] - 0xD800u) << 10) + (t[i + 1] - 0xDC00u));
      ++i;
    } else {
      out.push_back(t[i]);
    }
  }
  return out;
}

// A plain UTF-8 encoder of code points.
std::string utf8_of(std::u32string_view cps) {
  std::string out;
  for (char32_t cp : cps) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // Bytes to UTF-16 and back: the identity, for names on disk and arguments.
  const std::u16string wide = plat::utf8_to_utf16_escaped(bytes);
  FUZZ_CHECK(plat::utf16_to_utf8_escaped(wide) == bytes);
  FUZZ_CHECK(plat::to_native(plat::from_native(bytes)) == bytes);
  FUZZ_CHECK(wide.size() <= bytes.size());
  // A lone surrogate in the result is always an escaped byte of 0x80 or
  // more; what is not escaped is well-formed and encodes to its own bytes.
  std::u16string run;
  std::string run_bytes;
  size_t at = 0;
  for (size_t i = 0; i <= wide.size(); ++i) {
    const bool escape = i < wide.size() && wide[i] >= 0xDC80 && wide[i] <= 0xDCFF &&
                        !(i > 0 && wide[i - 1] >= 0xD800 && wide[i - 1] <= 0xDBFF);
    if (i == wide.size() || escape) {
      FUZZ_CHECK(well_formed_utf16(run));
      const std::string encoded = utf8_of(code_points(run));
      FUZZ_CHECK(bytes.compare(at, encoded.size(), encoded) == 0);
      at += encoded.size();
      run.clear();
      if (i < wide.size()) {
        FUZZ_CHECK(static_cast<unsigned char>(bytes[at]) == wide[i] - 0xDC00);
        ++at;
      }
    } else {
      run += wide[i];
    }
  }
  FUZZ_CHECK(at == bytes.size());

  // The same bytes read as UTF-16 units: well-formed text survives the
  // trip through UTF-8 unchanged.
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  const std::string narrow = plat::utf16_to_utf8_escaped(units);
  if (well_formed_utf16(units)) {
    FUZZ_CHECK(narrow == utf8_of(code_points(units)));
    FUZZ_CHECK(plat::utf8_to_utf16_escaped(narrow) == units);
  }
  return 0;
}
