// Outputs on Win32: files that appear whole or not at all, and the
// endings that remove their named temporaries. No directory is held for
// other threads.

#include "platform/win32_internal.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace plat {

TempSlot g_temp_slots[kPendingOutputsMax];
SRWLOCK g_temp_lock = SRWLOCK_INIT;

namespace {

HANDLE handle_of(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

namespace {

// Notes `name` for the console handler in a free slot; -1 when every slot
// is taken.
int note_temp(const std::u16string& name) {
  int taken = -1;
  AcquireSRWLockExclusive(&g_temp_lock);
  for (size_t i = 0; i < kPendingOutputsMax && taken < 0; ++i) {
    TempSlot& slot = g_temp_slots[i];
    if (slot.named) continue;
    const size_t n = std::min(name.size(), sizeof slot.name / sizeof slot.name[0] - 1);
    std::memcpy(slot.name, name.data(), n * sizeof(wchar_t));
    slot.name[n] = L'\0';
    slot.named = true;
    taken = static_cast<int>(i);
  }
  ReleaseSRWLockExclusive(&g_temp_lock);
  return taken;
}

void forget_temp(int& slot) {
  if (slot < 0) return;
  AcquireSRWLockExclusive(&g_temp_lock);
  g_temp_slots[slot].named = false;
  ReleaseSRWLockExclusive(&g_temp_lock);
  slot = -1;
}

const std::string& pid_text() {
  static const std::string text = std::to_string(GetCurrentProcessId());
  return text;
}

bool set_delete_on_close(HANDLE h, bool on) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = on ? TRUE : FALSE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Attributes of an existing target that its replacement takes over.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Whether the existing `target` is the file open in `source`.
bool names_source(const std::u16string& target, const File& source) {
  BY_HANDLE_FILE_INFORMATION own, there;
  HANDLE h = open_for_query(target, 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(h, &there) != 0;
  CloseHandle(h);
  return known && GetFileInformationByHandle(handle_of(source.handle_), &own) != 0 &&
         own.dwVolumeSerialNumber == there.dwVolumeSerialNumber &&
         own.nFileIndexHigh == there.nFileIndexHigh && own.nFileIndexLow == there.nFileIndexLow;
}

begin_result begin_beside(const std::u16string& target, PendingOutput& output, bool doomed,
                          const File* source) {
  output.abandon();
  output.target = target;
  const DWORD existing = GetFileAttributesW(wide(target));
  if (existing != INVALID_FILE_ATTRIBUTES && source != nullptr && source->is_open() &&
      names_source(target, *source))
    return begin_result::same_file;
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (existing & FILE_ATTRIBUTE_READONLY) return begin_result::read_only;
    output.keep_mode = existing & kKeptAttributes;
  }
  static unsigned counter = 0;
  std::u16string base = target + kTempMarker;
  // A target whose name is near the 255-unit limit of a name gets a short
  // temporary name in the same directory, so the rename stays one step.
  const size_t cut = target.find_last_of(u"\\/");
  const size_t name_units = target.size() - (cut == std::u16string::npos ? 0 : cut + 1);
  if (name_units + 32 > 255)
    base = target.substr(0, cut == std::u16string::npos ? 0 : cut + 1) + kTempMarker;
  const std::string pid = pid_text() + "-";
  for (int attempt = 0; attempt < 10000; ++attempt) {
    const std::string tail = pid + std::to_string(counter++);
    const std::u16string name = base + std::u16string(tail.begin(), tail.end());
    // Shared for deletion, so that the console handler can remove it while
    // it is open.
    output.temp_slot = note_temp(name);
    if (output.temp_slot < 0) {
      g_last_error = ERROR_TOO_MANY_OPEN_FILES;
      return begin_result::failed;
    }
    HANDLE h = CreateFileW(wide(name), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      output.file.handle_ = reinterpret_cast<intptr_t>(h);
      output.temp_path = name;
      // Marked for deletion, the file goes with its handle however the
      // process ends; where the file system refuses, the handler removes it.
      output.vanishes = doomed && set_delete_on_close(h, true);
      return begin_result::ok;
    }
    const DWORD error = GetLastError();
    forget_temp(output.temp_slot);
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      g_last_error = error;
      return begin_result::failed;
    }
  }
  g_last_error = ERROR_FILE_EXISTS;
  return begin_result::failed;
}

}  // namespace

void PendingOutput::abandon() {
  file.close();
  if (!temp_path.empty()) {
    if (!vanishes) DeleteFileW(wide(temp_path));
    forget_temp(temp_slot);
    temp_path.clear();
  }
  vanishes = false;
  keep_mode = 0;
}

begin_result begin_output(const std::u16string& target, PendingOutput& output,
                          const File* source) {
  return begin_beside(target, output, true, source);
}

begin_result begin_named_output(const std::u16string& target, PendingOutput& output) {
  return begin_beside(target, output, false, nullptr);
}

bool commit_output(PendingOutput& output) {
  auto fail = [&output]() {
    const DWORD error = g_last_error;
    output.abandon();
    g_last_error = error;
    return false;
  };
  if (!output.file.is_open() || output.temp_path.empty()) {
    g_last_error = ERROR_INVALID_HANDLE;
    return false;
  }
  HANDLE h = handle_of(output.file.handle_);
  if (output.vanishes) {
    if (!set_delete_on_close(h, false)) {
      remember_error();
      return fail();
    }
    output.vanishes = false;
  }
  if (output.keep_mode != 0) {
    FILE_BASIC_INFO basic;
    std::memset(&basic, 0, sizeof basic);  // zero times: left as they are
    basic.FileAttributes = output.keep_mode;
    SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);  // best effort
  }
  // Renamed through its own handle, the file is in place before the handle
  // closes; where that is refused, the named file is moved over the target.
  const size_t bytes = output.target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + bytes + sizeof(wchar_t), 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(rename->FileName, output.target.data(), bytes);
  const bool renamed =
      SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
  if (!output.file.close()) return fail();
  if (!renamed && !MoveFileExW(wide(output.temp_path), wide(output.target),
                               MOVEFILE_REPLACE_EXISTING)) {
    remember_error();
    return fail();
  }
  forget_temp(output.temp_slot);
  output.temp_path.clear();
  output.keep_mode = 0;
  return true;
}

// Names are opened by their whole path, and an output's temporary is
// named: all of it on the main thread.
class HeldDir {};
std::shared_ptr<HeldDir> hold_listed_dir(const std::u16string&) { return nullptr; }
bool open_held(HeldDir&, const std::u16string&, File&) { return false; }
std::optional<begin_result> begin_held_output(HeldDir&, const std::u16string&, PendingOutput&,
                                              const File*) {
  return std::nullopt;
}

}  // namespace plat
