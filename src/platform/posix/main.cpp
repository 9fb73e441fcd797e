// The process entry: the user's locale, then the program.
#include <clocale>

#include "shell/shell.h"

int main(int argc, char** argv) {
  // Before any other thread exists. Without the user's locale, "C" stays.
  (void)std::setlocale(LC_ALL, "");  // NOLINT(concurrency-mt-unsafe): one thread yet
  return program_entry(argc, argv);
}
