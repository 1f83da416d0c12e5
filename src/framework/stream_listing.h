// One listing line per named stream, on the output stream.
#pragma once

#include <string>

extern std::string g_utf8_buf;

int list_streams(int count);
void utf16_to_utf8(const std::u16string& text);
