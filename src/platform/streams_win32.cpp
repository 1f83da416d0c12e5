// Named streams on Win32: the stamps of an object or stream, the backup
// read of its streams, and the privileges that widen it.

#include "platform/win32_internal.h"

namespace plat {

namespace {

bool stamps_of(const std::u16string& path, Stamps& out) {
  HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_READONLY |
                             FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // Read sharing is refused while a writer holds the object: its times
    // can still be read.
    h = open_for_query(path, FILE_READ_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) {
      remember_error();
      return false;
    }
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  if (!ok) remember_error();
  CloseHandle(h);
  if (!ok) return false;
  out.creation = stamp_of(info.ftCreationTime);
  out.last_access = stamp_of(info.ftLastAccessTime);
  out.last_write = stamp_of(info.ftLastWriteTime);
  return true;
}

}  // namespace

std::optional<Stamps> object_stamps(const std::u16string& path) {
  Stamps s;
  if (stamps_of(path, s)) return s;
  const DWORD saved = g_last_error;
  // "object:stream" where the volume cannot open a stream by name: the
  // stream has its object's times. The drive colon never counts.
  const size_t cut = path.find_last_of(u"\\/");
  const size_t colon = path.rfind(u':');
  if (colon != std::u16string::npos && (cut == std::u16string::npos || colon > cut + 1) &&
      colon > 1 && path[colon - 1] != u'?') {
    if (stamps_of(path.substr(0, colon), s)) return s;
  }
  g_last_error = saved;
  return std::nullopt;
}

struct BackupReader::State {
  HANDLE file = INVALID_HANDLE_VALUE;
  LPVOID context = nullptr;
};

BackupReader::BackupReader() : state_(nullptr) {}
BackupReader::~BackupReader() { close(); }

bool BackupReader::open(const std::u16string& path) {
  close();
  HANDLE h = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    remember_error();
    return false;
  }
  state_ = new State();
  state_->file = h;
  return true;
}

// The fixed part of WIN32_STREAM_ID: id, attributes, size, name size.
int BackupReader::read_header(StreamHeader& header) {
  if (state_ == nullptr) {
    g_last_error = ERROR_INVALID_HANDLE;
    return -1;
  }
  unsigned char bytes[20];
  DWORD got = 0;
  if (!BackupRead(state_->file, bytes, sizeof bytes, &got, FALSE, TRUE, &state_->context)) {
    remember_error();
    return -1;
  }
  if (got < sizeof bytes) return 0;
  auto word = [&](size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
  };
  header = StreamHeader();
  header.id = word(0);
  header.attributes = word(4);
  header.size = static_cast<uint64_t>(word(8)) | static_cast<uint64_t>(word(12)) << 32;
  header.name_size = word(16);
  return 1;
}

long long BackupReader::read_name(char16_t* name, uint32_t name_size) {
  if (state_ == nullptr) {
    g_last_error = ERROR_INVALID_HANDLE;
    return -1;
  }
  DWORD got = 0;
  if (!BackupRead(state_->file, reinterpret_cast<LPBYTE>(name), name_size, &got, FALSE, TRUE,
                  &state_->context)) {
    remember_error();
    return -1;
  }
  return got;
}

// The seek stops at the end of the current stream, so the largest amount
// passes over the whole of it.
void BackupReader::skip_data() {
  if (state_ == nullptr) return;
  DWORD low = 0, high = 0;
  BackupSeek(state_->file, 0xFFFFFFFFu, 0x7FFFFFFFu, &low, &high, &state_->context);
}

void BackupReader::close() {
  if (state_ == nullptr) return;
  if (state_->context != nullptr) {
    DWORD got = 0;
    BackupRead(state_->file, nullptr, 0, &got, TRUE, FALSE, &state_->context);
  }
  CloseHandle(state_->file);
  delete state_;
  state_ = nullptr;
}

PrivilegeStatus enable_backup_restore() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    remember_error();
    return PrivilegeStatus::token_error;
  }
  // TOKEN_PRIVILEGES with room for two entries.
  struct {
    DWORD count;
    LUID_AND_ATTRIBUTES entries[2];
  } privileges;
  privileges.count = 2;
  if (!LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.entries[0].Luid)) {
    remember_error();
    CloseHandle(token);
    return PrivilegeStatus::backup_lookup_error;
  }
  if (!LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &privileges.entries[1].Luid)) {
    remember_error();
    CloseHandle(token);
    return PrivilegeStatus::restore_lookup_error;
  }
  privileges.entries[0].Attributes = SE_PRIVILEGE_ENABLED;
  privileges.entries[1].Attributes = SE_PRIVILEGE_ENABLED;
  // An account without the privileges goes on without them.
  AdjustTokenPrivileges(token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&privileges), 0, nullptr,
                        nullptr);
  CloseHandle(token);
  return PrivilegeStatus::ok;
}

}  // namespace plat
