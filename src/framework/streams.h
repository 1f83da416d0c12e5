// Named data streams of one object, read through the backup-read sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct stream_entry {
  uint32_t attributes;
  uint64_t size;
  uint32_t name_size;  // bytes
  std::u16string name; // e.g. ":Zone.Identifier:$DATA"
};

extern std::vector<stream_entry> g_stream_table;
extern int g_stream_errors_ignored;

int read_streams();
void enable_backup_privileges();
