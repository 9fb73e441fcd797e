// The names of the temporary files the file layers write before a rename, so
// that every layer recognises what an interrupted run left: a save's
// "name.XXXXXX" beside the file it replaces, and a backup copy's
// "name.tessmira-XXXXXX" beside its final name.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

constexpr char kCopyMark[] = ".tessmira-";
constexpr std::size_t kTemporaryRandom = 6;

// name + mark + six letters or digits taken from bits.
inline std::string temporary_name(const char* name, const char* mark, std::uint64_t bits) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string result = std::string(name) + mark;
  for (std::size_t i = 0; i < kTemporaryRandom; ++i, bits /= sizeof letters - 1)
    result += letters[bits % (sizeof letters - 1)];
  return result;
}

// Whether name is "base.XXXXXX", a save's temporary of base.
inline bool is_save_temporary(const char* name, const std::string& base) {
  const std::size_t length = std::strlen(name);
  if (length != base.size() + 1 + kTemporaryRandom ||
      std::strncmp(name, base.c_str(), base.size()) != 0 || name[base.size()] != '.') {
    return false;
  }
  // A user's "name.backup" is no temporary: the six random characters are
  // letters and digits, nearly always with a capital or a digit among them.
  bool mixed = false;
  for (std::size_t i = base.size() + 1; i < length; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (std::isalnum(c) == 0) return false;
    mixed = mixed || std::isupper(c) != 0 || std::isdigit(c) != 0;
  }
  return mixed;
}

// Whether name is "something.tessmira-XXXXXX", a backup copy not yet whole.
inline bool is_copy_leftover(const char* name) {
  const char* mark = std::strstr(name, kCopyMark);
  if (mark == nullptr || mark == name) return false;
  const char* random = mark + sizeof kCopyMark - 1;
  if (std::strlen(random) != kTemporaryRandom) return false;
  for (const char* c = random; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c)) == 0) return false;
  }
  return true;
}
