// File associations: the desktop opens files of a type with Tessmira.
#pragma once

// Makes the program in program_folder (ending in '/') the default for files
// with the extension ("BMP", "GIF", "JPG", "PNG", "HEIC" and the others),
// described as description.
// True when done, false when it could not be written.
bool register_extension(const char* program_folder, const char* extension, const char* description);

#include <string>

// The freedesktop pieces, for tests: a program path quoted for an Exec line,
// and the desktop entry written for one type.
std::string desktop_exec_quote(const std::string& path);
std::string desktop_entry_text(const std::string& program, const std::string& icon,
                               const char* extension, const char* description);
// mimeapps.list's text with type's default set to entry, every other line kept.
std::string mimeapps_with_default(const std::string& text, const std::string& type,
                                  const std::string& entry);
