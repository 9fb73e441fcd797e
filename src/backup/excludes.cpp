// What a backup leaves out: the patterns of the command line and of the
// exclude file, and the folders that tag themselves as caches.
#include <cstring>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "ports/files.h"
#include "text/text.h"

namespace {

// An exclude file longer than this is no list of patterns.
constexpr std::size_t kExcludesBytes = 1 << 20;

bool separator_at(const std::string& text, std::size_t at, const PathRules& rules) {
  return at < text.size() && is_separator(text[at], rules);
}

char folded(char c, const PathRules& rules) {
  return rules.fold_case != 0 && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The bytes of the UTF-8 character that starts at text[at].
std::size_t character_bytes(const std::string& text, std::size_t at) {
  std::size_t end = at + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return end - at;
}

// Whether pattern from p matches text from t to its end. known holds the
// answers found so far, one per pair of places, so that no pattern of stars
// takes more than pattern x text steps.
bool matches_from(const std::string& pattern, std::size_t p, const std::string& text, std::size_t t,
                  const PathRules& rules, std::vector<signed char>& known) {
  signed char& answer = known[p * (text.size() + 1) + t];
  if (answer >= 0) return answer == 1;
  bool match = false;
  if (p == pattern.size()) {
    match = t == text.size();
  } else if (pattern.compare(p, 2, "**") == 0) {
    // "**/" also stands for no folder at all: "**/x" matches "x".
    const std::size_t after = p + 2;
    if (separator_at(pattern, after, rules) &&
        matches_from(pattern, after + 1, text, t, rules, known))
      match = true;
    for (std::size_t from = t; !match && from <= text.size(); ++from)
      match = matches_from(pattern, after, text, from, rules, known);
  } else if (pattern[p] == '*') {
    for (std::size_t from = t; !match; ++from) {
      match = matches_from(pattern, p + 1, text, from, rules, known);
      if (from == text.size() || separator_at(text, from, rules)) break;
    }
  } else if (t < text.size() && !separator_at(text, t, rules)) {
    if (pattern[p] == '?') {
      match = matches_from(pattern, p + 1, text, t + character_bytes(text, t), rules, known);
    } else if (folded(pattern[p], rules) == folded(text[t], rules)) {
      match = matches_from(pattern, p + 1, text, t + 1, rules, known);
    }
  } else if (separator_at(pattern, p, rules) && separator_at(text, t, rules)) {
    match = matches_from(pattern, p + 1, text, t + 1, rules, known);
  }
  answer = match ? 1 : 0;
  return match;
}

bool glob_matches(const std::string& pattern, const std::string& text, const PathRules& rules) {
  std::vector<signed char> known((pattern.size() + 1) * (text.size() + 1), -1);
  return matches_from(pattern, 0, text, 0, rules, known);
}

}  // namespace

bool exclude_matches(const std::string& pattern, const std::string& below, const PathRules& rules) {
  std::string wanted = pattern;
  while (!wanted.empty() && is_separator(wanted.back(), rules)) wanted.pop_back();
  if (wanted.empty() || below.empty()) return false;
  // "/x" is anchored at the folder backed up; so is any pattern of more than
  // one part. One name alone matches that name at any depth.
  if (is_separator(wanted[0], rules)) return glob_matches(wanted.substr(1), below, rules);
  bool one_name = true;
  for (const char c : wanted) one_name = one_name && !is_separator(c, rules);
  if (!one_name) return glob_matches(wanted, below, rules);
  const std::size_t cut = static_cast<std::size_t>(last_separator(below.c_str(), rules)) + 1;
  return glob_matches(wanted, below.substr(cut), rules);
}

bool backup_parts::left_out(const std::vector<std::string>& excludes, bool cache_tags,
                            const char* path, std::size_t start_length, bool folder) {
  const char* below = path + start_length;
  if (is_separator(*below)) ++below;
  for (const std::string& pattern : excludes) {
    if (exclude_matches(pattern, below)) return true;
  }
  return folder && cache_tags && cache_tagged(path);
}

bool cache_tagged(const char* folder) {
  static constexpr char kSignature[] = "Signature: 8a477f597d28d172789f06886806bc55";
  constexpr std::size_t kLength = sizeof kSignature - 1;
  char path[kPathBytes];
  char start[kLength];
  return join_path(folder, kCacheTagName, path) &&
         file_read_start(path, start, kLength) == static_cast<std::int64_t>(kLength) &&
         std::memcmp(start, kSignature, kLength) == 0;
}

bool read_excludes(const DataFolder& data, bool write_default, std::vector<std::string>* patterns,
                   std::string* problem) {
  char path[kPathBytes];
  if (!data_file_path(data, kExcludesFile, path)) {
    *problem = "the data folder cannot hold the exclude file";
    return false;
  }
  std::string text;
  if (!backup_parts::read_whole(path, kExcludesBytes, &text)) {
    *problem = std::string("the exclude file ") + path + " cannot be read";
    return false;
  }
  // Written once, on first use; never again, so that an edited file stays.
  if (!path_taken(path)) {
    text = kDefaultExcludes;
    if (write_default && !file_replace(path, text.data(), text.size())) {
      *problem = std::string("the exclude file ") + path + " cannot be written";
      return false;
    }
  }
  backup_parts::each_line(text, [patterns](std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line[first] != '#') patterns->push_back(line.substr(first));
  });
  return true;
}

const char kDefaultExcludes[] =
    "# Left out of every /b= run: a pattern a line, matched against the path\n"
    "# below the folder backed up. One name matches that name at any depth;\n"
    "# a pattern with a / is matched from the folder backed up. * is any part\n"
    "# of one name, ** any run of folders, ? one character. This file is\n"
    "# written only when it is missing: edit it freely.\n"
    "**/.cache\n"
    "**/.local/share/Trash\n"
    "**/.thumbnails\n"
    "**/.Trash-*\n"
    "**/AppData/Local/Temp\n"
    "**/AppData/Local/Microsoft/Windows/INetCache\n"
    "**/AppData/Local/Microsoft/Windows/Explorer/thumbcache_*.db\n";
