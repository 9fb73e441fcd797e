#include "text/text.h"

#include <cstring>

std::uint32_t length_of_text(const char* text) {
  // The C library's routine is word-wise and fast, and stays inside the text's
  // allocation, which keeps AddressSanitizer quiet.
  return static_cast<std::uint32_t>(std::strlen(text));
}

void copy_text(const char* source, char* destination) {
  while ((*destination++ = *source++) != '\0') {
  }
}

void append_text(char* destination, const char* source) {
  copy_text(source, destination + length_of_text(destination));
}

void left_text(const char* source, char* destination, std::uint32_t count) {
  std::memcpy(destination, source, count);
  destination[count] = '\0';
}

void mid_text(const char* source, char* destination, std::uint32_t start, std::uint32_t count) {
  std::memcpy(destination, source + start, count);
  destination[count] = '\0';
}

void right_text(const char* source, char* destination, std::uint32_t count) {
  const std::uint32_t length = length_of_text(source);
  // A count above the length yields the whole text: too short to match any
  // suffix of count characters, and nothing before the source is read.
  const std::uint32_t from = count < length ? length - count : 0;
  copy_text(source + from, destination);
}

void lower_text(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text + 32);
  }
}

void number_to_text(std::int32_t value, char* destination) {
  if (value == 0) {
    copy_text("0", destination);
    return;
  }
  std::uint32_t magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) {
    *destination++ = '-';
    magnitude = 0u - magnitude;
  }
  char* digits = destination;
  while (magnitude != 0) {
    *digits++ = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  *digits = '\0';
  // Digits were written least significant first.
  for (char* low = destination; low < --digits; ++low) {
    const char kept = *low;
    *low = *digits;
    *digits = kept;
  }
}

std::uint32_t text_to_number(const char* text) {
  std::uint32_t value = 0;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != 0; ++at) {
    value = value * 10u + static_cast<std::uint8_t>(*at - 48);
  }
  return value;
}

namespace {

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::uint32_t shortest_root(const PathRules& rules) {
  return rules.drive_roots != 0 ? 3 : 1;
}

bool is_separator(char c, const PathRules& rules) {
  return c != '\0' && (c == rules.separator || c == rules.also_separator);
}

std::uint32_t root_length(const char* path, const PathRules& rules) {
  if (rules.drive_roots == 0) return is_separator(path[0], rules) ? 1 : 0;
  if (letter(path[0]) && path[1] == ':') return is_separator(path[2], rules) ? 3 : 2;
  if (is_separator(path[0], rules) && is_separator(path[1], rules)) {
    // "\\server\share\": the leading pair, two names, the separator after them.
    std::uint32_t at = 2;
    for (int names = 0; names < 2; ++names) {
      while (path[at] != '\0' && !is_separator(path[at], rules)) ++at;
      if (path[at] == '\0') return at;
      ++at;
    }
    return at;
  }
  return is_separator(path[0], rules) ? 1 : 0;
}

bool is_absolute_path(const char* path, const PathRules& rules) {
  if (rules.drive_roots == 0) return is_separator(path[0], rules);
  // "C:" alone is relative to that drive's current folder; "\\x" a share.
  return (letter(path[0]) && path[1] == ':' && is_separator(path[2], rules)) ||
         (is_separator(path[0], rules) && is_separator(path[1], rules));
}

bool same_path(const char* a, const char* b, const PathRules& rules) {
  if (rules.fold_case == 0) return std::strcmp(a, b) == 0;
  for (; *a != '\0' && fold(*a) == fold(*b); ++a, ++b) {
  }
  return fold(*a) == fold(*b);
}

std::int32_t last_separator(const char* path, const PathRules& rules) {
  std::int32_t found = -1;
  for (std::int32_t i = 0; path[i] != '\0'; ++i) {
    if (is_separator(path[i], rules)) found = i;
  }
  return found;
}

bool join_path(const char* folder, const char* name, char* path, const PathRules& rules) {
  const std::uint32_t folder_length = length_of_text(folder);
  // A root that ends with its separator ("/", "C:\\") is not doubled, so a
  // rebuild of the root finds the shown image again.
  const bool ends_in_root = folder_length > 0 && folder_length == root_length(folder, rules) &&
                            is_separator(folder[folder_length - 1], rules);
  const bool joined = folder_length > 0 && !ends_in_root;
  if (folder_length == 0) {
    if (std::uint64_t{1} + length_of_text(name) >= kPathBytes) return false;
    path[0] = rules.separator;
    path[1] = '\0';
    append_text(path, name);
    return true;
  }
  if (std::uint64_t{folder_length} + (joined ? 1 : 0) + length_of_text(name) >= kPathBytes) {
    return false;
  }
  copy_text(folder, path);
  if (joined) {
    path[folder_length] = rules.separator;
    path[folder_length + 1] = '\0';
  }
  append_text(path, name);
  return true;
}

bool normalise_path(const char* path, const char* current, char* result, const PathRules& rules) {
  if (path[0] == '\0') return false;
  const char* start = is_absolute_path(path, rules) ? path : current;
  // The root as written, its separators as the rules write them.
  const std::uint32_t root = root_length(start, rules);
  if (root >= kPathBytes) return false;
  std::uint32_t length = 0;
  for (; length < root; ++length) {
    result[length] = is_separator(start[length], rules) ? rules.separator : start[length];
  }
  const bool root_separated = root > 0 && is_separator(start[root - 1], rules);
  if (!root_separated) {
    if (root + 1 >= kPathBytes) return false;
    result[length++] = rules.separator;
  }
  const std::uint32_t base = length;  // ".." never cuts into the root
  // Components are appended as "name" + separator; ".." cuts the last one.
  auto take = [&](const char* text) {
    while (*text != '\0') {
      while (is_separator(*text, rules)) ++text;
      const char* end = text;
      while (*end != '\0' && !is_separator(*end, rules)) ++end;
      const std::uint32_t size = static_cast<std::uint32_t>(end - text);
      if (size == 1 && text[0] == '.') {
        // the same folder
      } else if (size == 2 && text[0] == '.' && text[1] == '.') {
        if (length > base) --length;  // the last component's separator
        while (length > base && result[length - 1] != rules.separator) --length;
      } else if (size > 0) {
        if (length + size + 1 >= kPathBytes) return false;
        std::memcpy(result + length, text, size);
        length += size;
        result[length++] = rules.separator;
      }
      text = end;
    }
    return true;
  };
  if (start == current && !take(current + root)) return false;
  if (!take(start == current ? path : path + root)) return false;
  // No trailing separator but the root's own.
  if (length > base) --length;
  result[length] = '\0';
  return true;
}
