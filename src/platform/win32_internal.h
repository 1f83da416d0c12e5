// What the Win32 files of the platform layer share: the system headers
// with their settings, the error of the last failed call, UTF-16 as the
// API spells it, stamps of file times, and the pending outputs'
// temporaries that the console handler removes.
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7: FindExInfoBasic, CompareStringOrdinal
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "platform/platform.h"

namespace plat {

inline constexpr size_t kLongPathUnits = 32768;

// GetLastError of the calling thread's last failed operation, for
// last_error_text.
extern thread_local DWORD g_last_error;
inline void remember_error() { g_last_error = GetLastError(); }

inline const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string from_wide(const wchar_t* text, size_t units) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), units);
}
inline std::u16string from_wide(const wchar_t* text) { return from_wide(text, wcslen(text)); }

inline uint64_t stamp_of(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// A standard handle (STD_OUTPUT_HANDLE, ...) is a console.
bool is_console(DWORD which);
// Narrow text in a code page; unmappable units become the code page's
// default character.
std::string to_code_page(const std::u16string& text, UINT code_page);
// Opens an object for queries only; directories open too.
HANDLE open_for_query(const std::u16string& path, DWORD access);

// The named temporaries of the pending outputs, for the console handler,
// which runs on a thread of its own: fixed buffers under a lock that the
// handler keeps once it has taken it, as the process is ending then.
struct TempSlot {
  wchar_t name[kLongPathUnits + 64];
  bool named;
};
extern TempSlot g_temp_slots[kPendingOutputsMax];
extern SRWLOCK g_temp_lock;

}  // namespace plat
