#include "framework/stream_listing.h"

std::string g_utf8_buf;

int list_streams(int) { return 0; }
void utf16_to_utf8(const std::u16string&) {}
