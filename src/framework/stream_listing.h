// One listing line per named stream, on the output stream.
#pragma once

#include <cstdint>
#include <string>

#include "framework/file_times.h"

// The UTF-8 form of the last name converted, terminated (c_str()). Start-up
// reserves its 262,144 bytes; a conversion fills at most 32,768 of them,
// the terminator included.
extern std::string g_utf8_buf;
inline constexpr size_t kUtf8ConvertBytes = 32768;

// Writes one line per stream for the first `count` entries of
// g_stream_table, the streams of the object at `path`, adding one to
// `lines_listed` for each line. Always 0.
int list_streams(const std::u16string& path, int count, int32_t& lines_listed);
void utf16_to_utf8(const std::u16string& text);

// The line of one stream, from the comment column to the line end, as
// list_streams writes it: `object_name` is the object's last path
// component, `stream_name` the recorded name cut after the stream's own
// name (":Zone.Identifier"), `times` the object's times.
std::string stream_line(const std::u16string& object_name, const std::u16string& stream_name,
                        uint64_t size, const file_times& times);

// Empty work buffers, made again on the next listing, as at process start.
void reset_stream_listing_state();
