// The names the backed-up folders' copies go by in the generations
// (TesmiDir.txt), and the record of the temporaries made beside their copies
// (TesmiTmp.txt), both in the data folder.
#include <algorithm>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "ports/backup_target.h"
#include "ports/files.h"
#include "settings/settings.h"
#include "text/text.h"

using namespace backup_parts;

namespace {

// One line "name<TAB>folder" each, a tab, a line end or a percent sign inside
// either written as %09, %0A or %25 (a POSIX name may hold any of them).
constexpr std::size_t kNamesBytes = 16u << 20;

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c == '\t' ? "%09" : c == '\n' ? "%0A" : c == '%' ? "%25" : std::string(1, c);
  }
  return out;
}

std::string unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string code = text.substr(i, 3);
    const char c = code == "%09" ? '\t' : code == "%0A" ? '\n' : code == "%25" ? '%' : '\0';
    if (c == '\0') {
      out += text[i];
    } else {
      out += c;
      i += 2;
    }
  }
  return out;
}

// The sound records of text; a record is sound when its name is a plain name
// that no record before it gives, for an absolute folder no record before it
// names. The others are counted in *damaged.
std::vector<NameRecord> read_names(const std::string& text, std::uint32_t* damaged) {
  std::vector<NameRecord> records;
  *damaged = 0;
  each_line(text, [&](const std::string& line) {
    if (line.empty()) return;
    const std::size_t tab = line.find('\t');
    const NameRecord record{unescaped(line.substr(0, std::min(tab, line.size()))),
                            tab == std::string::npos ? "" : unescaped(line.substr(tab + 1))};
    const auto clashes = [&](const NameRecord& earlier) {
      return same_path(earlier.name.c_str(), record.name.c_str()) ||
             same_path(earlier.folder.c_str(), record.folder.c_str());
    };
    if (!plain_copy_name(record.name, path_rules()) || !is_absolute_path(record.folder.c_str()) ||
        std::any_of(records.begin(), records.end(), clashes)) {
      ++*damaged;
      return;
    }
    records.push_back(record);
  });
  return records;
}

std::string names_text(const std::vector<NameRecord>& records) {
  std::string text;
  for (const NameRecord& record : records)
    text += escaped(record.name) + '\t' + escaped(record.folder) + '\n';
  return text;
}

// Whether any generation holds an entry called name.
bool in_generations(const BackupSettings& settings, const std::string& name) {
  const std::string root = root_text(settings);
  for (const char* generation : kGenerationNames) {
    char path[kPathBytes];
    const std::string folder = root + path_rules().separator + generation;
    if (join_path(folder.c_str(), name.c_str(), path) && path_taken(path)) return true;
  }
  return false;
}

// Keeps the file as it was beside it and rewrites it with its sound records
// alone, so that the damage is told once. False when either cannot be written.
bool set_aside_damaged(const DataFolder& data, const std::string& text,
                       const std::vector<NameRecord>& records) {
  char path[kPathBytes];
  char aside[kPathBytes];
  const std::string sound = names_text(records);
  return data_file_path(data, kBackupNames, path) &&
         data_file_path(data, kBackupNamesAside, aside) &&
         file_replace(aside, text.data(), text.size()) &&
         file_replace(path, sound.data(), sound.size());
}

}  // namespace

bool backup_parts::plain_copy_name(const std::string& name, const PathRules& rules) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [&](char c) {
    return is_separator(c, rules) || (rules.drive_roots == 1 && c == ':');
  });
}

bool backup_parts::read_whole(const char* path, std::size_t most, std::string* text) {
  const std::int64_t size = stat_file_size(path);
  if (size >= static_cast<std::int64_t>(most)) return false;
  std::vector<char> bytes(static_cast<std::size_t>(size > 0 ? size : 0) + 1);
  const std::int64_t count = file_read_start(path, bytes.data(), bytes.size());
  if (count >= static_cast<std::int64_t>(bytes.size())) return false;  // grew meanwhile
  *text = std::string(bytes.data(), count > 0 ? static_cast<std::size_t>(count) : 0);
  return true;
}

bool backup_parts::read_copy_names(const DataFolder& data, std::vector<NameRecord>* records,
                                   std::string* text, std::uint32_t* damaged) {
  char path[kPathBytes];
  if (!data_file_path(data, kBackupNames, path) || !read_whole(path, kNamesBytes, text)) {
    return false;
  }
  std::uint32_t ignored = 0;
  *records = read_names(*text, damaged != nullptr ? damaged : &ignored);
  return true;
}

std::string backup_parts::copy_name(const char* folder, const PathRules& rules) {
  return length_of_text(folder) == root_length(folder, rules)
             ? "root"
             : folder + last_separator(folder, rules) + 1;
}

std::string backup_parts::claim_copy_name(const BackupSettings& settings, const DataFolder& data,
                                          const char* source, const BackupMessage& message,
                                          bool record) {
  const std::string own = copy_name(source, path_rules());
  char path[kPathBytes];
  std::vector<NameRecord> records;
  std::string text;
  std::uint32_t damaged = 0;
  // Never rewritten from a part: the lines past it would be lost.
  if (!data_file_path(data, kBackupNames, path) ||
      !read_copy_names(data, &records, &text, &damaged)) {
    return {};
  }
  if (damaged > 0 && record) {
    if (!set_aside_damaged(data, text, records)) return {};
    text = names_text(records);
  }
  if (damaged > 0) {
    tell(message, std::string(kBackupNames) + " had " + std::to_string(damaged) +
                      " damaged records (a copy name that is no plain name, or one given twice); " +
                      (record ? "they were set aside in " : "a backup sets them aside in ") +
                      kBackupNamesAside);
  }
  // Said at every run, so that whoever looks for the copies finds them.
  const auto say_name = [&](const std::string& name) {
    if (name != own) {
      tell(message, std::string(source) + " is backed up as " + name + ": " + own +
                        " holds another folder's copies");
    }
    return name;
  };
  for (const NameRecord& named : records) {
    if (same_path(named.folder.c_str(), source)) return say_name(named.name);
  }
  std::string name = own;
  for (std::uint32_t number = 2;; ++number) {
    const auto same_name = [&name](const NameRecord& named) {
      return same_path(named.name.c_str(), name.c_str());
    };
    const auto taken = std::find_if(records.begin(), records.end(), same_name);
    // A copy of the folder's own name that no record claims is taken to be
    // its own, from before names were recorded.
    if (taken == records.end() && (number == 2 || !in_generations(settings, name))) break;
    name = own + " (" + std::to_string(number) + ")";
  }
  if (!record) return say_name(name);
  std::string updated = text;
  if (!updated.empty() && updated.back() != '\n') updated += '\n';
  updated += escaped(name) + '\t' + escaped(source) + '\n';
  if (!file_replace(path, updated.data(), updated.size())) return {};
  return say_name(name);
}

void backup_parts::record_temporary(const DataFolder& data, const std::string& path) {
  char journal[kPathBytes];
  const std::string line = escaped(path) + '\n';
  if (data_file_path(data, kTemporariesJournal, journal)) {
    file_append(journal, line.data(), line.size());
  }
}

void backup_parts::remove_leftovers(const BackupSettings& settings, const DataFolder& data) {
  std::int32_t error = 0;
  const TargetFolder root = target_open_root(settings.root.c_str(), 0, &error);
  const TargetFolder scratch = root >= 0 ? target_open_folder(root, kScratchName, 0, &error) : -1;
  if (scratch >= 0) target_clear_scratch(scratch);
  target_close(scratch);
  target_close(root);
  char journal[kPathBytes];
  std::string text;
  if (!data_file_path(data, kTemporariesJournal, journal) || !path_taken(journal) ||
      !read_whole(journal, kNamesBytes, &text)) {
    return;
  }
  // Each was recorded before it was made; those renamed into place since are
  // no longer there.
  each_line(text, [](const std::string& line) {
    const std::string path = unescaped(line);
    if (!path.empty() && path_taken(path.c_str())) remove_file(path.c_str());
  });
  remove_file(journal);
}
