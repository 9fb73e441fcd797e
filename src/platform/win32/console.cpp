// Win32 console: console_out, console_error, console_error_is_terminal,
// through the process's standard handles, which a windowed program also has
// once it attached to its parent's console. Texts are UTF-8 bytes. Ctrl+C
// and Ctrl+Break become a request to stop.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "ports/console.h"

namespace {

// A handle that cannot be written to leaves nowhere to report it: the exit
// status still tells the outcome.
void write_to(DWORD which, const char* text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD left = static_cast<DWORD>(std::strlen(text));
  DWORD written = 0;
  while (left > 0 && WriteFile(handle, text, left, &written, nullptr) && written > 0) {
    text += written;
    left -= written;
  }
}

std::atomic<bool> interrupt_seen{false};

BOOL WINAPI note_interrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupt_seen = true;
  return TRUE;
}

}  // namespace

void console_out(const char* text) {
  write_to(STD_OUTPUT_HANDLE, text);
}

void console_error(const char* text) {
  write_to(STD_ERROR_HANDLE, text);
}

bool console_error_is_terminal() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR;
}

void catch_interrupt() {
  SetConsoleCtrlHandler(note_interrupt, TRUE);
}

bool interrupted() {
  return interrupt_seen.load();
}
