// The settings that do not fit the settings block's fixed layout, in a text
// file of key=value lines of their own: each known key read where its value
// is sound (else its default stands), every other line kept as it was.
#include <cstring>
#include <string>

#include "ports/files.h"
#include "settings/settings.h"

namespace {

// Far beyond a file of a few lines; a bigger one is not ours.
constexpr std::uint64_t kMostExtraBytes = std::uint64_t{64} << 10;

// The keys, each with its flag.
struct ExtraKey {
  const char* key;
  std::atomic<bool> ExtraSettings::*flag;
};
constexpr ExtraKey kExtraKeys[] = {
    {"more_picture_types", &ExtraSettings::more_picture_types},
    {"colour_management", &ExtraSettings::colour_management},
};

// A line worth keeping: text without control characters but tabs.
bool plain_text(const std::string& line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return false;
  }
  return !line.empty();
}

// Applies one line; false when it is not a known key's.
bool read_known(ExtraSettings& extra, const std::string& line) {
  for (const ExtraKey& row : kExtraKeys) {
    const std::size_t length = std::strlen(row.key);
    if (line.size() <= length || line.compare(0, length, row.key) != 0 || line[length] != '=') {
      continue;
    }
    const std::string value = line.substr(length + 1);
    if (value == "1" || value == "0") (extra.*row.flag).store(value == "1");
    return true;  // a damaged value leaves the default
  }
  return false;
}

}  // namespace

void apply_default_extra_settings(ExtraSettings& extra) {
  for (const ExtraKey& row : kExtraKeys) (extra.*row.flag).store(true);
  extra.other_lines.clear();
}

bool load_extra_settings(ExtraSettings& extra, const DataFolder& data) {
  apply_default_extra_settings(extra);
  char path[kPathBytes];
  std::string bytes(kMostExtraBytes + 1, '\0');
  const std::int64_t count = data_file_path(data, kExtraSettingsFileName, path)
                                 ? file_read_start(path, bytes.data(), bytes.size())
                                 : -1;
  if (count < 0 || static_cast<std::uint64_t>(count) > kMostExtraBytes) return false;
  bytes.resize(static_cast<std::size_t>(count));
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!read_known(extra, line) && plain_text(line)) extra.other_lines.push_back(line);
    start = end + 1;
  }
  return true;
}

bool write_extra_settings(const ExtraSettings& extra, const DataFolder& data) {
  char path[kPathBytes];
  if (!data_file_path(data, kExtraSettingsFileName, path)) return false;
  std::string text;
  for (const ExtraKey& row : kExtraKeys) {
    text += std::string(row.key) + "=" + ((extra.*row.flag).load() ? "1" : "0") + "\n";
  }
  for (const std::string& line : extra.other_lines) text += line + "\n";
  return file_replace(path, text.data(), text.size());
}
