// The names of the temporary files the file layers write before a rename: a
// save's "name.XXXXXX" beside the file it replaces, which every layer
// recognises; and a copy's "name.tessmira-XXXXXX", made in the backup root's
// own folder of temporaries or, recorded first, beside its final name, so
// that no name is ever taken for a temporary by its look alone.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

constexpr char kCopyMark[] = ".tessmira-";
constexpr std::size_t kTemporaryRandom = 6;
// The longest name most file systems hold, in bytes.
constexpr std::size_t kLongestName = 255;

// name + mark + six letters or digits taken from bits, the name cut (at a
// character's start) so that the whole fits a file system's name.
inline std::string temporary_name(const char* name, const char* mark, std::uint64_t bits) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string result = name;
  const std::size_t room = kLongestName - std::strlen(mark) - kTemporaryRandom;
  if (result.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0) == 0x80) --cut;
    result.resize(cut);
  }
  result += mark;
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
