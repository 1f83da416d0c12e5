// Small text helpers shared by the framework: UTF-16 strings of paths and
// arguments, the family's ASCII case rules and its number readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// ASCII text to UTF-16 (for literals and narrow messages).
std::u16string widen(std::string_view ascii);
// Each byte as one unit (codes 0..255).
std::u16string widen_bytes(std::string_view bytes);
// The low byte of each unit (the family's narrowing of paths and dates).
std::string narrow_low_bytes(std::u16string_view text);

// Only a..z change, as the runtime's upper-casing in the default locale.
char16_t upper_ascii(char16_t c);
std::u16string upper_ascii(std::u16string_view text);
std::string upper_ascii(std::string_view text);
bool equals_ignore_case(std::u16string_view a, std::u16string_view b);
bool starts_with_ignore_case(std::u16string_view text, std::u16string_view prefix);
bool contains(std::u16string_view text, std::u16string_view part);

// The C runtime's decimal readers: leading white space, one sign, digits up
// to the first other character; no digits give 0. read_int64 clamps to the
// 64-bit range; read_int32 keeps the low 32 bits of that value.
int64_t read_int64(std::u16string_view text);
int32_t read_int32(std::u16string_view text);
int64_t read_int64(std::string_view text);
