// Win32 desktop: the main window of class "Kestrelo", whose messages call the
// core's handlers, and the desktop_* functions. Calls from the worker thread
// only post messages (titles, commands) or invalidate the window, which is
// what Win32 allows from any thread; a post to a window that is gone is
// dropped.
#include "ports/desktop.h"

#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32_files.h"
#include "platform/win32/win32_window.h"
#include "ports/picture.h"
#include "shell/shell.h"
#include "state/settings_block.h"

namespace {

constexpr wchar_t kClassName[] = L"Kestrelo";
constexpr int kIconGroup = 500;
constexpr UINT kPostedTitle = WM_APP + 1;    // lParam: a std::string* to take
constexpr UINT kPostedCommand = WM_APP + 2;  // wParam: the command id
// A worker's repaint, posted so that it comes after the titles it posted
// before: a paint then titles the picture last, never a stale "Building".
constexpr UINT kPostedRepaint = WM_APP + 3;

// The state handed back to the core's entry points, and the main window
// while it lives (read by the worker's posts).
AppState* viewer_state = nullptr;
std::atomic<HWND> live_window{nullptr};
PlatformWindow* window_record = nullptr;

// The colour profile of the monitor the window is on, handed to the picture
// layer; true when it differs from the one handed before.
bool read_monitor_profile(HWND hwnd) {
  static std::vector<std::uint8_t> last;
  std::vector<std::uint8_t> bytes;
  HDC dc = GetDC(hwnd);
  wchar_t path[MAX_PATH] = L"";
  DWORD size = MAX_PATH;
  if (dc != nullptr && GetICMProfileW(dc, &size, path)) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER length;
    // No profile is larger than a few megabytes.
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &length) && length.QuadPart > 0 &&
        length.QuadPart < (16 << 20)) {
      bytes.resize(static_cast<std::size_t>(length.QuadPart));
      DWORD got = 0;
      if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
          got != bytes.size()) {
        bytes.clear();
      }
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  if (dc != nullptr) ReleaseDC(hwnd, dc);
  if (bytes == last) return false;
  last = bytes;
  picture_set_display_profile(bytes.empty() ? nullptr : bytes.data(), bytes.size());
  return true;
}

std::uint32_t modifier_bits() {
  return ((GetKeyState(VK_SHIFT) & 0x8000) != 0 ? kModifierShift : 0) |
         ((GetKeyState(VK_CONTROL) & 0x8000) != 0 ? kModifierControl : 0) |
         ((GetKeyState(VK_MENU) & 0x8000) != 0 ? kModifierAlt : 0);
}

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  AppState* state = viewer_state;
  if (state == nullptr || window_record == nullptr) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  switch (message) {
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED) handle_resize(*state, LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every paint covers the whole client area
    case WM_PAINT: {
      PAINTSTRUCT paint;
      window_record->paint_dc = BeginPaint(hwnd, &paint);
      handle_paint(*state);
      window_record->paint_dc = nullptr;
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      // Virtual-key numbers are the core's key codes; bit 30 marks a held
      // key's repeat, stamped (GetMessageTime) so that the core can tell one
      // that waited. A repeat behind which the key's WM_KEYUP already waits
      // is from a hold that has ended.
      const bool repeat = (lparam & (1 << 30)) != 0;
      MSG up;
      const bool let_go =
          repeat && PeekMessageW(&up, hwnd, WM_KEYUP, WM_KEYUP, PM_NOREMOVE) && up.wParam == wparam;
      if (!let_go) {
        handle_key(*state, static_cast<std::uint32_t>(wparam),
                   modifier_bits() | (repeat ? kModifierRepeat : 0),
                   static_cast<std::uint32_t>(GetMessageTime()));
      }
      // F10 would enter the (absent) menu bar; Alt+F4 and the like go on.
      if (message == WM_SYSKEYDOWN && wparam != VK_F10) break;
      return 0;
    }
    case WM_CONTEXTMENU:
      // From the keyboard (-1) the key table has already opened it.
      if (lparam != -1) handle_context_menu(*state);
      return 0;
    case WM_MOUSEMOVE:
      // As unsigned 16-bit values: left of or above the window is above 60000.
      handle_mouse_move(*state, (wparam & MK_LBUTTON) != 0, LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_LBUTTONDOWN:
      SetCapture(hwnd);  // the magnifier follows the pointer outside the window
      return 0;
    case WM_LBUTTONUP:
      ReleaseCapture();
      handle_button_up(*state, modifier_bits());
      return 0;
    case WM_MOUSEWHEEL:
      if (handle_wheel(*state, GET_WHEEL_DELTA_WPARAM(wparam))) return 0;
      break;
    case WM_DROPFILES: {
      auto* drop = reinterpret_cast<HDROP>(wparam);
      const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
      std::wstring path(length + 1, L'\0');
      if (length > 0 && DragQueryFileW(drop, 0, path.data(), length + 1) == length) {
        path.resize(length);
        handle_drop(*state, utf8_of(path.c_str()).c_str());
      }
      DragFinish(drop);
      return 0;
    }
    case WM_CLOSE:
      // The window is destroyed only by command 2071, at the end of the handshake.
      handle_close(*state);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != 0) handle_session_end(*state);
      return 0;
    case WM_DISPLAYCHANGE:
    case WM_EXITSIZEMOVE:
      // Another monitor, or its profile changed with the display's settings.
      if (read_monitor_profile(hwnd)) handle_display_profile_change(*state);
      break;
    case WM_DPICHANGED: {
      if (read_monitor_profile(hwnd)) handle_display_profile_change(*state);
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case kPostedTitle: {
      auto* title = reinterpret_cast<std::string*>(lparam);
      SetWindowTextW(hwnd, wide_text(title->c_str()).c_str());
      delete title;
      return 0;
    }
    case kPostedCommand:
      handle_posted_command(*state, static_cast<std::int32_t>(wparam));
      return 0;
    case kPostedRepaint:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// The saved placement when it can be used: a normal rectangle of sane size
// that lies at least partly on a monitor.
bool sane_placement(const WindowPlacement& placement) {
  const std::int64_t width = std::int64_t{placement.normal_right} - placement.normal_left;
  const std::int64_t height = std::int64_t{placement.normal_bottom} - placement.normal_top;
  constexpr std::int64_t kMost = 1 << 24;
  ShowState state = ShowState::normal;
  if (width <= 0 || height <= 0 || width > kMost || height > kMost ||
      !show_state_of(placement, &state)) {
    return false;
  }
  const RECT rect{placement.normal_left, placement.normal_top, placement.normal_right,
                  placement.normal_bottom};
  return MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) != nullptr;
}

}  // namespace

bool desktop_open(int, char**, char*) {
  // Device pixels on every monitor, as the core paints them; where the
  // manifest's setting was not taken, asked for here.
  using SetContext = BOOL(WINAPI*)(HANDLE);
  HMODULE user = GetModuleHandleW(L"user32.dll");
  auto set_context = user != nullptr ? reinterpret_cast<SetContext>(reinterpret_cast<void*>(
                                           GetProcAddress(user, "SetProcessDpiAwarenessContext")))
                                     : nullptr;
  if (set_context == nullptr || !set_context(reinterpret_cast<HANDLE>(-4))) SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW type{};
  type.cbSize = sizeof type;
  type.style = CS_HREDRAW | CS_VREDRAW;
  type.lpfnWndProc = window_procedure;
  type.hInstance = instance;
  type.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kIconGroup), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  type.hIconSm = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kIconGroup), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  type.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  type.lpszClassName = kClassName;
  RegisterClassExW(&type);
  return true;
}

void desktop_screen_size(std::int32_t* width, std::int32_t* height) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
}

PlatformWindow* desktop_create_window(AppState& state, std::int32_t x, std::int32_t y,
                                      std::int32_t width, std::int32_t height) {
  viewer_state = &state;
  window_record = new PlatformWindow;
  // The frame around the asked client area.
  RECT frame{x, y, x + width, y + height};
  AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
  HWND hwnd = CreateWindowExW(0, kClassName, L"", WS_OVERLAPPEDWINDOW, frame.left, frame.top,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  window_record->hwnd = hwnd;
  live_window = hwnd;
  DragAcceptFiles(hwnd, TRUE);
  read_monitor_profile(hwnd);
  return window_record;
}

bool desktop_show_window(PlatformWindow* window, const WindowPlacement* placement,
                         std::uint32_t full_screen) {
  const bool used = placement != nullptr && sane_placement(*placement);
  int show = SW_SHOW;
  if (used) {
    WINDOWPLACEMENT saved;
    static_assert(sizeof saved == sizeof *placement);
    std::memcpy(&saved, placement, sizeof saved);
    saved.length = sizeof saved;  // never stored by the program: filled in here
    saved.flags = 0;
    SetWindowPlacement(window->hwnd, &saved);
    show = shown_as(*placement, ShowState::maximised)   ? SW_SHOWMAXIMIZED
           : shown_as(*placement, ShowState::minimised) ? SW_SHOWMINIMIZED
                                                        : SW_SHOWNORMAL;
  }
  ShowWindow(window->hwnd, show);
  UpdateWindow(window->hwnd);
  if (full_screen == 1) desktop_set_full_screen(window, 1);
  return used;
}

void desktop_run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void desktop_destroy_window(PlatformWindow* window) {
  if (window == nullptr) return;
  live_window = nullptr;
  DestroyWindow(window->hwnd);
}

bool desktop_read_placement(const PlatformWindow* window, WindowPlacement* placement) {
  WINDOWPLACEMENT now{};
  now.length = sizeof now;
  if (window->full_screen) {
    now = window->normal_placement;
  } else if (!GetWindowPlacement(window->hwnd, &now)) {
    return false;
  }
  std::memcpy(placement, &now, sizeof *placement);
  placement->length = sizeof(WindowPlacement);
  return true;
}

void desktop_set_title(PlatformWindow*, const char* title) {
  HWND hwnd = live_window;
  if (hwnd == nullptr) return;
  if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
    SetWindowTextW(hwnd, wide_text(title).c_str());
    return;
  }
  auto* text = new std::string(title);
  if (!PostMessageW(hwnd, kPostedTitle, 0, reinterpret_cast<LPARAM>(text))) delete text;
}

void desktop_request_repaint(PlatformWindow*) {
  HWND hwnd = live_window;
  if (hwnd == nullptr) return;
  if (GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
    InvalidateRect(hwnd, nullptr, FALSE);
  } else {
    PostMessageW(hwnd, kPostedRepaint, 0, 0);
  }
}

void desktop_post_command(PlatformWindow*, std::int32_t command) {
  HWND hwnd = live_window;
  if (hwnd != nullptr) PostMessageW(hwnd, kPostedCommand, static_cast<WPARAM>(command), 0);
}

void desktop_set_opacity(PlatformWindow* window, std::uint32_t alpha) {
  if (window == nullptr) return;
  const LONG_PTR extended = GetWindowLongPtrW(window->hwnd, GWL_EXSTYLE);
  if (alpha >= 255) {
    SetWindowLongPtrW(window->hwnd, GWL_EXSTYLE, extended & ~WS_EX_LAYERED);
    return;
  }
  SetWindowLongPtrW(window->hwnd, GWL_EXSTYLE, extended | WS_EX_LAYERED);
  SetLayeredWindowAttributes(window->hwnd, 0, static_cast<BYTE>(alpha), LWA_ALPHA);
}

void desktop_set_topmost(PlatformWindow* window, std::uint32_t on_top) {
  if (window == nullptr) return;
  SetWindowPos(window->hwnd, on_top == 1 ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void desktop_set_full_screen(PlatformWindow* window, std::uint32_t full_screen) {
  if (window == nullptr) return;
  HWND hwnd = window->hwnd;
  if (full_screen == 1) {
    if (!window->full_screen) {
      window->normal_placement.length = sizeof window->normal_placement;
      GetWindowPlacement(hwnd, &window->normal_placement);
      window->normal_style = GetWindowLongPtrW(hwnd, GWL_STYLE);
      window->full_screen = true;
    }
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    SetWindowLongPtrW(hwnd, GWL_STYLE, (window->normal_style & ~WS_OVERLAPPEDWINDOW) | WS_POPUP);
    const RECT& screen = monitor.rcMonitor;
    SetWindowPos(hwnd, nullptr, screen.left, screen.top, screen.right - screen.left,
                 screen.bottom - screen.top, SWP_NOZORDER | SWP_FRAMECHANGED);
    ShowWindow(hwnd, SW_SHOW);
    return;
  }
  if (!window->full_screen) return;
  window->full_screen = false;
  // Exactly the frame, geometry and state it had before.
  SetWindowLongPtrW(hwnd, GWL_STYLE, window->normal_style);
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  SetWindowPlacement(hwnd, &window->normal_placement);
}
