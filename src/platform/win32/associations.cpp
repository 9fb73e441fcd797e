// Win32 file associations, written per user under
// HKEY_CURRENT_USER\Software\Classes, which needs no administrator and is
// what HKEY_CLASSES_ROOT shows first.
#include "ports/associations.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <string>

#include "platform/win32/win32_files.h"
#include "ports/folders.h"

namespace {

// Sets key's default value to text; a key that cannot be written is skipped.
bool write_default(const std::wstring& key, const std::wstring& text) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG set =
      RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return set == ERROR_SUCCESS;
}

}  // namespace

bool register_extension(const char* program_folder, const char* extension,
                        const char* description) {
  // The program's own file name in its folder; "Tessmira.exe" when unknown.
  char running[32768];
  std::string name = "Tessmira.exe";
  if (program_file(running, sizeof running) > 0) {
    const std::string path = running;
    name = path.substr(path.find_last_of("\\/") + 1);
  }
  const std::wstring program = wide_text((std::string(program_folder) + name).c_str());
  const std::wstring type = L"Tessmira." + wide_text(extension) + L"File";
  // Quoted, so that a folder with blanks in its name still starts the program.
  const std::wstring command = L"\"" + program + L"\" \"%1\"";
  bool written = write_default(L"." + wide_text(extension), type);
  written = write_default(type, wide_text(description)) && written;
  written = write_default(type + L"\\shell", L"Open") && written;
  written = write_default(type + L"\\shell\\Open\\Command", command) && written;
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return written;
}
