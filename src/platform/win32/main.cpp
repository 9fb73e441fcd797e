// The Windows process entry: the command line as the system gives it (one
// text, split by the program's own rules), then the switches. The window
// comes with the Win32 desktop layer; until then a start without a switch
// says so.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/win32/win32_files.h"
#include "shell/shell.h"

int main() {
  // Messages are UTF-8, as every text of the core.
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> words = split_command_line(utf8_of(GetCommandLineW()).c_str());
  std::vector<char*> arguments;
  for (std::string& word : words) arguments.push_back(word.data());
  arguments.push_back(nullptr);
  const int status = console_entry(static_cast<int>(words.size()), arguments.data());
  if (status != kViewerWanted) return status;
  console_error(
      "tessmira: the viewer's window is not there yet in the Windows build; "
      "use /b=FOLDER or /r\n");
  return 2;
}
