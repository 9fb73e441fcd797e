// The user's standard folders and the program's own file.
#pragma once

#include <cstdint>

enum class UserFolder {
  home,       // $HOME
  pictures,   // the XDG pictures folder, else ~/Pictures
  documents,  // the XDG documents folder, else ~/Documents
  data_home,  // $XDG_DATA_HOME, else ~/.local/share
};

// Writes the folder's absolute path, without trailing '/', into destination.
// Returns its length, or -1 when it is unknown or does not fit size bytes.
std::int32_t user_folder(UserFolder which, char* destination, std::uint32_t size);
// Writes the running program file's absolute path into destination. Returns
// its length, or -1 when it is unknown or does not fit size bytes.
std::int32_t program_file(char* destination, std::uint32_t size);
