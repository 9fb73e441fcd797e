// What a backup leaves out: the patterns of the command line and of the
// exclude file, and the folders that tag themselves as caches.
#include <cstring>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "ports/files.h"
#include "text/text.h"

using backup_parts::ExcludeRule;

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

bool same_bytes(const std::string& plain, const char* text, const PathRules& rules) {
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (folded(plain[i], rules) != folded(text[i], rules)) return false;
  }
  return true;
}

ExcludeRule rule_of(const std::string& pattern, const PathRules& rules) {
  ExcludeRule rule;
  std::size_t first = 0;
  std::size_t last = pattern.size();
  while (last > 0 && is_separator(pattern[last - 1], rules)) --last;
  // "/x" is anchored at the folder backed up; so is any pattern of more than
  // one part. One name alone matches that name at any depth.
  const bool anchored = last > 0 && is_separator(pattern[0], rules);
  if (anchored) first = 1;
  rule.pattern = pattern.substr(first, last - first);
  rule.any_depth = !anchored && !rule.pattern.empty();
  for (const char c : rule.pattern) rule.any_depth = rule.any_depth && !is_separator(c, rules);
  // Nothing but a "**" reaches across a separator, so the pattern's last
  // part alone meets the path's last part.
  std::size_t part = rule.pattern.size();
  while (part > 0 && !is_separator(rule.pattern[part - 1], rules)) --part;
  const std::string last_part = rule.pattern.substr(part);
  rule.quick = last_part.find("**") == std::string::npos;
  const std::size_t wild_first = last_part.find_first_of("*?");
  rule.wild = wild_first != std::string::npos;
  rule.head = rule.wild ? last_part.substr(0, wild_first) : last_part;
  rule.tail = rule.wild ? last_part.substr(last_part.find_last_of("*?") + 1) : "";
  return rule;
}

// Whether rule leaves out the entry whose path below the folder backed up is
// below (length bytes).
bool rule_matches(const ExcludeRule& rule, const char* below, std::size_t length,
                  const PathRules& rules) {
  if (rule.pattern.empty() || length == 0) return false;
  std::size_t name = length;
  while (name > 0 && !is_separator(below[name - 1], rules)) --name;
  const std::size_t name_length = length - name;
  if (rule.quick) {
    if (!rule.wild &&
        (name_length != rule.head.size() || !same_bytes(rule.head, below + name, rules)))
      return false;
    if (rule.wild && (name_length < rule.head.size() + rule.tail.size() ||
                      !same_bytes(rule.head, below + name, rules) ||
                      !same_bytes(rule.tail, below + length - rule.tail.size(), rules)))
      return false;
  }
  return rule.any_depth ? glob_matches(rule.pattern, std::string(below + name, name_length), rules)
                        : glob_matches(rule.pattern, std::string(below, length), rules);
}

}  // namespace

bool exclude_matches(const std::string& pattern, const std::string& below, const PathRules& rules) {
  return rule_matches(rule_of(pattern, rules), below.c_str(), below.size(), rules);
}

std::vector<ExcludeRule> backup_parts::exclude_rules(const std::vector<std::string>& patterns,
                                                     const PathRules& rules) {
  std::vector<ExcludeRule> made;
  made.reserve(patterns.size());
  for (const std::string& pattern : patterns) made.push_back(rule_of(pattern, rules));
  return made;
}

bool backup_parts::left_out(const std::vector<ExcludeRule>& excludes, bool cache_tags,
                            const char* path, std::size_t start_length, bool folder) {
  const char* below = path + start_length;
  if (is_separator(*below)) ++below;
  const std::size_t length = length_of_text(below);
  for (const ExcludeRule& rule : excludes) {
    if (rule_matches(rule, below, length, path_rules())) return true;
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
