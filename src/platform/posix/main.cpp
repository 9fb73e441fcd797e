// The process entry: the user's locale, then the program.
#include <clocale>

#include "shell/shell.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  return program_entry(argc, argv);
}
