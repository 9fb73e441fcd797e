// freedesktop file associations: register_extension writes a desktop entry
// "Tessmira.<EXT>File.desktop" into $XDG_DATA_HOME/applications/ and makes
// it the default for the type in $XDG_CONFIG_HOME/mimeapps.list.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/posix/posix_files.h"
#include "ports/associations.h"
#include "ports/files.h"
#include "ports/folders.h"

namespace {

const char* mime_type_of(const char* extension) {
  static const char* const types[][2] = {
      {"BMP", "image/bmp"},   {"GIF", "image/gif"},   {"JPG", "image/jpeg"},
      {"JPEG", "image/jpeg"}, {"JPE", "image/jpeg"},  {"JFIF", "image/jpeg"},
      {"PNG", "image/png"},   {"WEBP", "image/webp"}, {"TIF", "image/tiff"},
      {"TIFF", "image/tiff"}, {"AVIF", "image/avif"}, {"HEIC", "image/heic"},
      {"HEIF", "image/heif"}, {"JXL", "image/jxl"},
  };
  for (const auto& row : types) {
    if (std::strcmp(extension, row[0]) == 0) return row[1];
  }
  return nullptr;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool write_text(const std::string& path, const std::string& text) {
  return file_replace(path.c_str(), text.data(), text.size());
}

}  // namespace

std::string desktop_exec_quote(const std::string& path) {
  // Reserved characters make the argument a quoted one, inside which ", `, $
  // and \ are escaped; then the value's own escaping doubles every \, and %
  // becomes %% (field codes).
  const char* reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string argument;
  if (path.find_first_of(reserved) == std::string::npos) {
    argument = path;
  } else {
    argument.push_back('"');
    for (const char c : path) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
      argument += c;
    }
    argument += '"';
  }
  std::string value;
  for (const char c : argument) {
    if (c == '\\') value += '\\';
    if (c == '%') value += '%';
    value += c;
  }
  return value;
}

std::string desktop_entry_text(const std::string& program, const std::string& icon,
                               const char* extension, const char* description) {
  return std::string("[Desktop Entry]\n") + "Type=Application\n" + "Name=Tessmira\n" +
         "Comment=" + description + "\n" + "MimeType=" + mime_type_of(extension) + ";\n" +
         "NoDisplay=true\n" + "Icon=" + icon + "\n" + "Exec=" + desktop_exec_quote(program) +
         " %f\n";
}

std::string mimeapps_with_default(const std::string& text, const std::string& type,
                                  const std::string& entry) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::string wanted = type + "=" + entry;
  std::size_t section = 0;
  while (section < lines.size() && lines[section] != "[Default Applications]") ++section;
  if (section == lines.size()) {
    if (!lines.empty() && !lines.back().empty()) lines.push_back("");
    lines.push_back("[Default Applications]");
    lines.push_back(wanted);
  } else {
    std::size_t end = section + 1;
    while (end < lines.size() && (lines[end].empty() || lines[end][0] != '[')) ++end;
    bool replaced = false;
    for (std::size_t i = section + 1; i < end; ++i) {
      if (lines[i].rfind(type + "=", 0) == 0) {
        lines[i] = wanted;
        replaced = true;
      }
    }
    if (!replaced) {
      // After the section's last line, before the blank lines that end it.
      std::size_t at = end;
      while (at > section + 1 && lines[at - 1].empty()) --at;
      lines.insert(lines.begin() + static_cast<long>(at), wanted);
    }
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

bool register_extension(const char* program_folder, const char* extension,
                        const char* description) {
  const char* type = mime_type_of(extension);
  char data_home[4096];
  char program[4096];
  if (type == nullptr || user_folder(UserFolder::data_home, data_home, sizeof data_home) < 0 ||
      program_file(program, sizeof program) < 0) {
    return false;
  }
  const std::string applications = std::string(data_home) + "/applications";
  const std::string config = config_home();
  if (config.empty() || !make_folders(applications.c_str()) || !make_folders(config.c_str())) {
    return false;
  }
  const std::string entry = std::string("Tessmira.") + extension + "File.desktop";
  // The icon beside a built program, else the installed theme's by its name.
  std::string icon = std::string(program_folder) + "tessmira.png";
  if (!file_readable(icon.c_str())) icon = "tessmira";
  if (!write_text(applications + "/" + entry,
                  desktop_entry_text(program, icon, extension, description))) {
    return false;
  }
  const std::string list = config + "/mimeapps.list";
  return write_text(list, mimeapps_with_default(read_text(list), type, entry));
}
