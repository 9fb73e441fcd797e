// Desktop notifications on Windows: a balloon from an icon of the program's
// in the notification area, shown for a while by a window no one sees; a
// scheduled run has no window of its own to show it from.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "platform/win32/win32_files.h"
#include "ports/desktop.h"

namespace {

// How long the balloon stays: it goes with its icon.
constexpr DWORD kShownMilliseconds = 10000;
// The program's icon in its resources.
constexpr WORD kIconResource = 500;

void copy_text(wchar_t* destination, std::size_t size, const std::wstring& text) {
  std::wcsncpy(destination, text.c_str(), size - 1);
  destination[size - 1] = L'\0';
}

}  // namespace

bool desktop_notify(const char* title, const char* text) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND window = CreateWindowExW(0, L"STATIC", L"Tessmira", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                instance, nullptr);
  if (window == nullptr) return false;
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = 1;
  icon.uFlags = NIF_ICON | NIF_TIP | NIF_INFO;
  icon.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  // IDI_WARNING, spelled wide.
  if (icon.hIcon == nullptr) icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32515));
  copy_text(icon.szTip, sizeof icon.szTip / sizeof icon.szTip[0], L"Tessmira");
  copy_text(icon.szInfoTitle, sizeof icon.szInfoTitle / sizeof icon.szInfoTitle[0],
            wide_text(title));
  copy_text(icon.szInfo, sizeof icon.szInfo / sizeof icon.szInfo[0], wide_text(text));
  icon.dwInfoFlags = NIIF_WARNING;
  const bool shown = Shell_NotifyIconW(NIM_ADD, &icon) != FALSE;
  if (shown) {
    // The shell talks to the icon's window meanwhile: its messages are served.
    const ULONGLONG until = GetTickCount64() + kShownMilliseconds;
    for (ULONGLONG now = GetTickCount64(); now < until; now = GetTickCount64()) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    Shell_NotifyIconW(NIM_DELETE, &icon);
  }
  DestroyWindow(window);
  return shown;
}
