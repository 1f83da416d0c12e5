// Named data streams of one object, read through the backup-read sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

struct stream_entry {
  uint32_t attributes = 0;
  uint64_t size = 0;
  uint32_t name_size = 0;  // bytes, as the sequence gave them
  std::u16string name;     // e.g. ":Zone.Identifier:$DATA"
};

// Filled from its first entry by every read_streams call. It starts with
// room for 10 entries and grows for an object that has more.
inline constexpr size_t kStreamTableRoom = 10;
// Longest recorded name, in units, without the terminator.
inline constexpr size_t kStreamNameUnits = 263;
extern std::vector<stream_entry> g_stream_table;
// 1 once the user chose to go on after a stream read error.
extern int g_stream_errors_ignored;

// Reads the named streams of the object at `path` into g_stream_table and
// returns how many were recorded.
int read_streams(const std::u16string& path);
// Switches the backup and restore privileges on; ends the run when the
// token or a privilege cannot be had.
void enable_backup_privileges();

// The sequence read_streams works through. The platform's backup reader
// is the real one; tests put scripted sequences in its place.
class stream_source {
 public:
  virtual ~stream_source() = default;
  virtual bool open(const std::u16string& path) = 0;
  // 1: a header; 0: the object is exhausted; -1: a read error.
  virtual int read_header(plat::StreamHeader& header) = 0;
  // The bytes of the name delivered, or -1.
  virtual long long read_name(char16_t* name, uint32_t name_size) = 0;
  virtual void skip_data() = 0;
  virtual void close() = 0;
};
int read_streams_from(stream_source& source, const std::u16string& path);

// Reports a privilege outcome as enable_backup_privileges does (and ends
// the run unless it is ok).
void handle_privilege_status(plat::PrivilegeStatus status);

// The key that answers the read-error prompt; plat::read_key unless a test
// puts its own in (nullptr restores it).
void set_stream_key_reader(int (*reader)());

// An empty table, no read error answered and the platform's key reader, as
// at process start.
void reset_streams_state();
