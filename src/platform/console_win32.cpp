// Console and signals on Win32: the screen, single keys, the console events
// that interrupt or end a run, the file-open dialog.

#include "platform/win32_internal.h"

#include <commdlg.h>
#include <conio.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {

bool is_console(DWORD which) {
  DWORD mode = 0;
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// "cls" clears a console; with standard output redirected it would only
// put a form feed into the file.
void clear_console() {
  fflush(stdout);
  if (!is_console(STD_OUTPUT_HANDLE)) return;
  if (system("cls") != 0) {
    // Without a command interpreter the screen stays as it is.
  }
}

namespace {

// Whether standard input is a console, asked once a run (-1: not yet):
// the walk asks for a key before every file.
int g_keys_from_console = -1;

}  // namespace

bool key_waiting() {
  if (g_keys_from_console < 0) g_keys_from_console = is_console(STD_INPUT_HANDLE) ? 1 : 0;
  return g_keys_from_console == 1 && _kbhit() != 0;
}

int read_key() {
  fflush(stdout);
  if (is_console(STD_INPUT_HANDLE)) return _getch();
  const int c = fgetc(stdin);
  return c == EOF ? -1 : c;
}

void set_stdin_unbuffered() { setvbuf(stdin, nullptr, _IONBF, 0); }

namespace {

void (*g_first_interrupt)(int) = nullptr;
volatile LONG g_interrupted = 0;

// The first Ctrl+C goes to the program's handler and is swallowed. The
// events that end the run remove every named temporary, then go on to the
// default handling, which ends the process with the status it always had.
BOOL WINAPI on_console_event(DWORD event) {
  if (event == CTRL_C_EVENT && InterlockedExchange(&g_interrupted, 1) == 0) {
    if (g_first_interrupt) g_first_interrupt(SIGINT);
    return TRUE;
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    AcquireSRWLockExclusive(&g_temp_lock);  // kept: the process ends
    for (const TempSlot& slot : g_temp_slots)
      if (slot.named) DeleteFileW(slot.name);
  }
  return FALSE;
}

void add_console_handler() {
  static bool added = false;
  if (!added) added = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
}

}  // namespace

void install_interrupt_handler(void (*handler)(int)) {
  g_first_interrupt = handler;
  add_console_handler();
}

// Windows has no file-size signal: a write past a limit simply fails.
void install_ending_handlers() { add_console_handler(); }

std::optional<std::u16string> open_file_dialog(const std::u16string& title) {
  wchar_t file[260] = {0};
  wchar_t file_title[260] = {0};
  static const wchar_t kFilter[] = L"All Files (*.*)\0*.*\0Data Files (*.DAT)\0*.DAT\0";
  OPENFILENAMEW dialog;
  memset(&dialog, 0, sizeof dialog);
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = nullptr;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = 260;
  dialog.lpstrFileTitle = file_title;
  dialog.nMaxFileTitle = 260;
  dialog.lpstrInitialDir = nullptr;
  dialog.lpstrTitle = wide(title);
  dialog.Flags = 0;
  if (!GetOpenFileNameW(&dialog) || file[0] == L'\0') return std::nullopt;
  return from_wide(file);
}

}  // namespace plat

void plat::reset_platform_state() {
  g_last_error = 0;
  g_interrupted = 0;
  g_keys_from_console = -1;
}
