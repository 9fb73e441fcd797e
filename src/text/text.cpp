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

void reverse_text(const char* source, char* destination) {
  copy_text(source, destination);
  const std::uint32_t length = length_of_text(destination);
  for (std::uint32_t i = 0; i < length / 2; ++i) {
    const char kept = destination[i];
    destination[i] = destination[length - 1 - i];
    destination[length - 1 - i] = kept;
  }
}

std::int32_t find_text(std::int32_t start, const char* text, const char* pattern) {
  const std::int64_t text_length = length_of_text(text);
  const std::int64_t pattern_length = length_of_text(pattern);
  if (start < 1) return -2;
  if (pattern_length >= text_length) return -1;
  const std::int64_t last = text_length - pattern_length + 1;
  if (start > last) return -2;
  for (std::int64_t position = start; position <= last; ++position) {
    const char* at = text + position - 1;
    if (*at != pattern[0]) continue;
    // Compared from the pattern's last byte back to its first.
    std::int64_t i = pattern_length - 1;
    while (i >= 0 && at[i] == pattern[i]) --i;
    if (i < 0) return static_cast<std::int32_t>(position);
  }
  return 0;
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

void copy_bytes(const void* source, void* destination, std::uint32_t count) {
  std::memmove(destination, source, count);
}

std::int32_t last_separator(const char* path) {
  const char* found = std::strrchr(path, '/');
  return found == nullptr ? -1 : static_cast<std::int32_t>(found - path);
}

namespace {

constexpr std::uint32_t kPathBytes = 600;

}  // namespace

std::int32_t join_path(const char* folder, const char* name, char* path) {
  const std::uint32_t folder_length = length_of_text(folder);
  const bool root = folder_length == 1 && folder[0] == '/';
  if (std::uint64_t{folder_length} + (root ? 0 : 1) + length_of_text(name) >= kPathBytes) return 0;
  copy_text(folder, path);
  if (!root) append_text(path, "/");
  append_text(path, name);
  return 1;
}

std::int32_t normalise_path(const char* path, const char* current, char* result) {
  if (path[0] == '\0') return 0;
  // Components are appended to result as "/name"; ".." cuts the last one.
  std::uint32_t length = 0;
  auto take = [&](const char* text) {
    while (*text != '\0') {
      while (*text == '/') ++text;
      const char* end = text;
      while (*end != '\0' && *end != '/') ++end;
      const std::uint32_t size = static_cast<std::uint32_t>(end - text);
      if (size == 1 && text[0] == '.') {
        // the same folder
      } else if (size == 2 && text[0] == '.' && text[1] == '.') {
        while (length > 0 && result[length - 1] != '/') --length;
        if (length > 0) --length;  // never above the root
      } else if (size > 0) {
        if (length + 1 + size >= kPathBytes) return false;
        result[length++] = '/';
        std::memcpy(result + length, text, size);
        length += size;
      }
      text = end;
    }
    return true;
  };
  if (path[0] != '/' && !take(current)) return 0;
  if (!take(path)) return 0;
  if (length == 0) result[length++] = '/';
  result[length] = '\0';
  return 1;
}
