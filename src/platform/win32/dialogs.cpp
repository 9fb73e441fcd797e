// Win32 menus and dialogs: the context menu from the core's items, the file
// and folder choosers, questions, the recycle bin, the About box and the
// "Results Report" dialog (a dialog resource of the program, 100).
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32_files.h"
#include "platform/win32/win32_window.h"
#include "ports/desktop.h"
#include "state/settings_block.h"
#include "state/version.h"

namespace {

constexpr int kReportDialog = 100;
constexpr int kReportLog = 101;
constexpr int kReportCount = 102;
constexpr UINT_PTR kReportTimer = 1;
constexpr int kFindDialog = 110;
constexpr int kFindField = 111;
constexpr int kFindList = 112;
constexpr int kFindStatus = 113;

HWND owner_of(PlatformWindow* window) {
  return window != nullptr ? window->hwnd : nullptr;
}

// Copies a chosen path into destination (600 bytes); false when it would not fit.
bool put_path(const wchar_t* path, char* destination) {
  const std::string chosen = utf8_of(path);
  if (chosen.empty() || chosen.size() >= kPathBytes) return false;
  std::memcpy(destination, chosen.c_str(), chosen.size() + 1);
  return true;
}

HMENU make_menu(const std::vector<MenuItem>& items) {
  HMENU menu = CreatePopupMenu();
  for (const MenuItem& item : items) {
    const std::wstring text = wide_text(item.text.c_str());
    if (!item.items.empty()) {
      AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(make_menu(item.items)),
                  text.c_str());
    } else if (item.id == 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(menu, MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED),
                  static_cast<UINT_PTR>(item.id), text.c_str());
    }
  }
  return menu;
}

// What the report dialog reads from, while it is open.
struct Report {
  ReportReader read;
  void* context;
  bool finished;
};

INT_PTR CALLBACK report_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* report = reinterpret_cast<Report*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SetTimer(dialog, kReportTimer, 200, nullptr);
      return TRUE;
    case WM_TIMER: {
      ReportSnapshot snapshot;
      report->read(report->context, &snapshot);
      if (snapshot.log_changed) {
        HWND log = GetDlgItem(dialog, kReportLog);
        SetWindowTextW(log, wide_text(snapshot.log.c_str()).c_str());
        const LRESULT end = SendMessageW(log, WM_GETTEXTLENGTH, 0, 0);
        SendMessageW(log, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageW(log, EM_SCROLLCARET, 0, 0);
      }
      SetDlgItemTextW(dialog, kReportCount, wide_text(snapshot.status.c_str()).c_str());
      if (snapshot.finished) {
        report->finished = true;
        KillTimer(dialog, kReportTimer);
        EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
      }
      return TRUE;
    }
    case WM_COMMAND:
      // Closes only once the build it reports has ended.
      if ((LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) && report->finished) {
        EndDialog(dialog, IDOK);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

// Names the folder browser's own window too, not only the text above its tree.
int CALLBACK name_browser(HWND browser, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED) SetWindowTextW(browser, L"Choose Folder");
  return 0;
}

}  // namespace

std::int32_t desktop_track_menu(PlatformWindow* window, const std::vector<MenuItem>& items) {
  HMENU menu = make_menu(items);
  POINT pointer{};
  GetCursorPos(&pointer);
  HWND owner = owner_of(window);
  // Without this the menu stays open when the user clicks elsewhere.
  SetForegroundWindow(owner);
  const BOOL chosen =
      TrackPopupMenuEx(menu, TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON,
                       pointer.x, pointer.y, owner, nullptr);
  DestroyMenu(menu);
  return static_cast<std::int32_t>(chosen);
}

bool desktop_open_with_default(const char* path) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", wide_path(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

bool desktop_choose_folder(PlatformWindow* window, char* destination) {
  BROWSEINFOW browse{};
  browse.hwndOwner = owner_of(window);
  browse.lpszTitle = L"Choose Folder";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  browse.lpfn = name_browser;
  LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
  if (chosen == nullptr) return false;
  std::vector<wchar_t> path(32768);
  const bool named = SHGetPathFromIDListEx(chosen, path.data(), 32768, GPFIDL_DEFAULT) != 0;
  CoTaskMemFree(chosen);
  return named && put_path(path.data(), destination);
}

bool desktop_choose_file(PlatformWindow* window, char* buffer, const char* image_patterns,
                         std::int32_t* filter_index) {
  // Pairs of a name and its patterns, each ended by a NUL, the whole by two.
  std::wstring patterns = wide_text(image_patterns);
  std::replace(patterns.begin(), patterns.end(), L' ', L';');
  const std::wstring filters = L"Image Files (" + patterns + L")" + L'\0' + patterns + L'\0' +
                               L"Audio Files (*.mid;*.wav;*.mp3;*.rmi;*.aif;*.au;*.snd)" + L'\0' +
                               L"*.mid;*.wav;*.mp3;*.rmi;*.aif;*.au;*.snd" + L'\0' +
                               L"Executable Files (*.exe)" + L'\0' + L"*.exe" + L'\0' +
                               L"All Files (*.*)" + L'\0' + L"*.*" + L'\0';
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring start = wide_path(buffer);
  const DWORD attributes = GetFileAttributesW(start.c_str());
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!folder && start.size() < file.size()) std::wmemcpy(file.data(), start.c_str(), start.size());
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_of(window);
  dialog.lpstrFilter = filters.c_str();
  dialog.nFilterIndex = static_cast<DWORD>(*filter_index + 1);
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = folder ? start.c_str() : nullptr;
  const std::wstring title = wide_text(kProgramTitle);
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&dialog)) return false;
  // The filter chosen last is kept for the run.
  *filter_index = dialog.nFilterIndex > 0 ? static_cast<std::int32_t>(dialog.nFilterIndex) - 1 : 0;
  return put_path(file.data(), buffer);
}

bool desktop_ask_yes_no(PlatformWindow* window, const char* title, const char* text) {
  return MessageBoxW(owner_of(window), wide_text(text).c_str(), wide_text(title).c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void desktop_show_error(PlatformWindow* window, const char* title, const char* text) {
  MessageBoxW(owner_of(window), wide_text(text).c_str(), wide_text(title).c_str(),
              MB_OK | MB_ICONWARNING);
}

bool desktop_move_to_trash(const char* path) {
  // The operation takes a list of names, each ended, the list ended again.
  std::wstring names = wide_path(path);
  names.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = names.c_str();
  operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  if (SHFileOperationW(&operation) != 0 || operation.fAnyOperationsAborted) return false;
  return GetFileAttributesW(names.c_str()) == INVALID_FILE_ATTRIBUTES;
}

void desktop_about_box(PlatformWindow* window, const char* program_folder,
                       const char* data_folder) {
  const std::string program = program_folder[0] != '\0' ? program_folder : "(the current folder)";
  const std::string data = data_folder[0] != '\0' ? data_folder : "(the current folder)";
  const std::wstring text =
      wide_text(("Program folder: " + program + "\nData folder: " + data).c_str());
  const TASKDIALOG_BUTTON buttons[] = {{1001, L"Open the program folder"},
                                       {1002, L"Open the data folder"}};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner_of(window);
  config.dwFlags = TDF_USE_COMMAND_LINKS | TDF_ALLOW_DIALOG_CANCELLATION;
  config.dwCommonButtons = TDCBF_OK_BUTTON;
  config.pszWindowTitle = L"About Tessmira";
  const std::wstring name = wide_text(kProgramTitle);
  config.pszMainInstruction = name.c_str();
  config.pszContent = text.c_str();
  config.pButtons = buttons;
  config.cButtons = 2;
  config.nDefaultButton = IDOK;
  // A folder button opens it and shows the box again, as a dialog's button would.
  for (;;) {
    int pressed = IDOK;
    if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr)) || pressed == IDOK ||
        pressed == IDCANCEL) {
      return;
    }
    const char* folder = pressed == 1001 ? program_folder : data_folder;
    desktop_open_with_default(folder[0] != '\0' ? folder : ".");
  }
}

namespace {

// What the find dialog asks and lists, while it is open.
struct Finder {
  FindReader read;
  void* context;
  std::vector<std::string> paths;  // as listed
  std::string chosen;
};

void list_matches(HWND dialog, Finder* finder) {
  const int length = GetWindowTextLengthW(GetDlgItem(dialog, kFindField));
  std::wstring pattern(static_cast<std::size_t>(length) + 1, L'\0');
  GetDlgItemTextW(dialog, kFindField, pattern.data(), length + 1);
  pattern.resize(static_cast<std::size_t>(length));
  finder->paths.clear();
  finder->read(finder->context, utf8_of(pattern.c_str()).c_str(), &finder->paths);
  HWND list = GetDlgItem(dialog, kFindList);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& path : finder->paths) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide_text(path.c_str()).c_str()));
  }
  if (!finder->paths.empty()) SendMessageW(list, LB_SETCURSEL, 0, 0);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  std::wstring status;
  if (length > 0) {
    status = (finder->paths.size() >= kFindListed ? L"the first " : L"") +
             std::to_wstring(finder->paths.size()) + L" matches";
  }
  SetDlgItemTextW(dialog, kFindStatus, status.c_str());
}

void choose_match(HWND dialog, Finder* finder) {
  const LRESULT row = SendDlgItemMessageW(dialog, kFindList, LB_GETCURSEL, 0, 0);
  if (row == LB_ERR || static_cast<std::size_t>(row) >= finder->paths.size()) return;
  finder->chosen = finder->paths[static_cast<std::size_t>(row)];
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK find_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* finder = reinterpret_cast<Finder*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SetFocus(GetDlgItem(dialog, kFindField));
      return FALSE;  // the focus is set
    case WM_COMMAND:
      if (LOWORD(wparam) == kFindField && HIWORD(wparam) == EN_CHANGE) {
        list_matches(dialog, finder);
      } else if ((LOWORD(wparam) == kFindList && HIWORD(wparam) == LBN_DBLCLK) ||
                 LOWORD(wparam) == IDOK) {
        choose_match(dialog, finder);
      } else if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::string desktop_find_file(PlatformWindow* window, FindReader read, void* context) {
  Finder finder{read, context, {}, {}};
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kFindDialog), owner_of(window),
                  find_procedure, reinterpret_cast<LPARAM>(&finder));
  return finder.chosen;
}

void desktop_catalog_report(ReportReader read, void* context) {
  Report report{read, context, false};
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kReportDialog), GetActiveWindow(),
                  report_procedure, reinterpret_cast<LPARAM>(&report));
}
