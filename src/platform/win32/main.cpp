// The Windows process entry: the command line as the system gives it (one
// text, split by the program's own rules), then the program. It is a windowed
// program, so no console opens with the viewer; the switches write to the
// console it was started from, when there is one.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/win32_files.h"
#include "shell/shell.h"

int main() {
  // Standard handles a parent gave (pipes, files) are kept; without them,
  // the starting console's.
  if (GetStdHandle(STD_ERROR_HANDLE) == nullptr && AttachConsole(ATTACH_PARENT_PROCESS)) {
    SetConsoleOutputCP(CP_UTF8);  // messages are UTF-8, as every text of the core
    HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      SetStdHandle(STD_OUTPUT_HANDLE, console);
      SetStdHandle(STD_ERROR_HANDLE, console);
    }
  }
  std::vector<std::string> words = split_command_line(utf8_of(GetCommandLineW()).c_str());
  std::vector<char*> arguments;
  for (std::string& word : words) arguments.push_back(word.data());
  arguments.push_back(nullptr);
  return program_entry(static_cast<int>(words.size()), arguments.data());
}
