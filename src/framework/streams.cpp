#include "framework/streams.h"

#include <cstdio>
#include <vector>

#include "framework/exit_status.h"
#include "framework/walk.h"

std::vector<stream_entry> g_stream_table;
int g_stream_errors_ignored = 0;

namespace {

const char* const kSourceName = "..\\..\\..\\INCLUDE_U\\Dmp_fun_u";
constexpr size_t kReadBufferBytes = 16384;
constexpr size_t kHeaderBytes = 20;  // the fixed part of a stream header
// The name goes into the read buffer right after the header.
constexpr size_t kNameRoomUnits = (kReadBufferBytes - kHeaderBytes) / sizeof(char16_t);

int (*g_key_reader)() = nullptr;

int read_prompt_key() { return g_key_reader != nullptr ? g_key_reader() : plat::read_key(); }

// The platform's backup reader behind the interface read_streams uses.
class backup_source : public stream_source {
 public:
  bool open(const std::u16string& path) override { return reader_.open(path); }
  int read_header(plat::StreamHeader& header) override { return reader_.read_header(header); }
  long long read_name(char16_t* name, uint32_t name_size) override {
    return reader_.read_name(name, name_size);
  }
  void skip_data() override { reader_.skip_data(); }
  void close() override { reader_.close(); }

 private:
  plat::BackupReader reader_;
};

void record_stream(int index, const plat::StreamHeader& header, const char16_t* name,
                   size_t units) {
  stream_entry entry;
  entry.attributes = header.attributes;
  entry.size = header.size;
  entry.name_size = header.name_size;
  entry.name.assign(name, units < kStreamNameUnits ? units : kStreamNameUnits);
  const size_t at = static_cast<size_t>(index);
  if (at < g_stream_table.size())
    g_stream_table[at] = std::move(entry);
  else
    g_stream_table.push_back(std::move(entry));
}

// The user is asked whether to go on without the streams of this object.
// Returns only after an upper-case "Y".
void ask_after_read_error() {
  settle_handed_over();
  std::printf("\nLine: %d Source File: %s Has encountered an Alt Data Stream Read error", 91,
              kSourceName);
  std::printf("\n\nIf you want me to continue press 'Y' else anyting else aborts");
  std::printf("\nIf you press Y, the -S, \"no alternate data stream option\" will be installed\n");
  std::printf("Enter Y or anything els now ");
  std::fflush(stdout);
  if (read_prompt_key() != 'Y') end_run(exit_status::user_aborted);
  g_stream_errors_ignored = 1;
}

}  // namespace

void set_stream_key_reader(int (*reader)()) { g_key_reader = reader; }

int read_streams(const std::u16string& path) {
  backup_source source;
  return read_streams_from(source, path);
}

int read_streams_from(stream_source& source, const std::u16string& path) {
  std::vector<char16_t> buffer(kReadBufferBytes / sizeof(char16_t));
  char16_t* const name = buffer.data() + kHeaderBytes / sizeof(char16_t);
  enable_backup_privileges();
  if (!source.open(path)) return 0;
  if (g_stream_table.capacity() < kStreamTableRoom) g_stream_table.reserve(kStreamTableRoom);

  int count = 0;
  for (;;) {
    plat::StreamHeader header;
    const int got = source.read_header(header);
    if (got < 0) {
      if (g_stream_errors_ignored == 0) {
        ask_after_read_error();
        source.close();
        return 0;
      }
      settle_handed_over();
      std::printf("\n");
      break;
    }
    if (got == 0) break;
    if (header.name_size == 0) {
      if (header.size > 0) source.skip_data();
      continue;
    }
    // A name longer than the read buffer holds cannot be taken whole.
    if (header.name_size > kNameRoomUnits * sizeof(char16_t)) break;
    const long long delivered = source.read_name(name, header.name_size);
    if (delivered < 0) {
      settle_handed_over();
      std::printf("\n%d", 153);
      source.close();
      return count;  // what was recorded before the failure is sound
    }
    if (delivered < static_cast<long long>(header.name_size)) break;
    record_stream(count, header, name, header.name_size / sizeof(char16_t));
    ++count;
    if (header.size > 0) source.skip_data();
  }
  source.close();
  return count;
}

void handle_privilege_status(plat::PrivilegeStatus status) {
  if (status == plat::PrivilegeStatus::ok) return;
  settle_handed_over();
  switch (status) {
    case plat::PrivilegeStatus::ok:
      return;
    case plat::PrivilegeStatus::token_error:
      std::printf("\n%d %s Token open error", 264, kSourceName);
      break;
    case plat::PrivilegeStatus::backup_lookup_error:
      std::printf("\n%d %s Privilege error", 274, kSourceName);
      break;
    case plat::PrivilegeStatus::restore_lookup_error:
      std::printf("\n%d %s LookupPrivilegeValue error", 281, kSourceName);
      break;
  }
  std::printf("\nTry using the -S option and rerun program\n\n");
  end_run(exit_status::non_specific_error);
}

void enable_backup_privileges() { handle_privilege_status(plat::enable_backup_restore()); }

void reset_streams_state() {
  g_stream_table.clear();
  g_stream_errors_ignored = 0;
  g_key_reader = nullptr;
}
