// What the backup's runs share: the generations' names and the texts of
// their messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "ports/backup_target.h"
#include "ports/files.h"
#include "text/text.h"

namespace backup_parts {

// The generation folders under the backup root, newest first.
inline constexpr const char* kGenerationNames[] = {"F0", "F1", "F2", "F3", "F4", "F5",
                                                   "F6", "F7", "F8", "F9", "FX"};
inline constexpr std::uint32_t kGenerationCount = 11;

inline void tell(const BackupMessage& message, const std::string& line) {
  message(line.c_str());
}

inline std::string reason_of(std::int32_t error) {
  char text[160];
  describe_error(error, text, sizeof text);
  return text;
}

// A folder's copy in the generations goes by a name recorded for it in
// kBackupNames (name, then the folder it is a copy of).
struct NameRecord {
  std::string name;
  std::string folder;
};
// Where a names file with damaged records is kept as it was.
inline constexpr char kBackupNamesAside[] = "TesmiDir.txt.damaged";
// Whether name can name a copy inside a generation: one plain name, not
// empty, "." or "..", without a separator (or, on drives, a ':').
bool plain_copy_name(const std::string& name, const PathRules& rules);
// The sound records, and the file's text; false when it cannot be read whole
// (a missing file holds none). A record is sound when its name is a plain
// name and neither its name nor its folder is given by a record before it;
// the others are left out and counted in *damaged (when given).
bool read_copy_names(const DataFolder& data, std::vector<NameRecord>* records, std::string* text,
                     std::uint32_t* damaged = nullptr);
// A folder's own copy name: its last component, "root" for a root ("/",
// "C:\\"); another when that one is taken (the record says which).
std::string copy_name(const char* folder, const PathRules& rules);
// The name of source's copy in the generations: the one recorded for it;
// else its last component ("root" for a root) unless another folder's copy
// has that name, then "name (2)", "name (3)"... that nothing holds yet,
// recorded (when record is set) before any copy is made. Damaged records
// are told, and with record set aside (the file kept as kBackupNamesAside)
// and left out of the file. Empty when the record cannot be written.
std::string claim_copy_name(const BackupSettings& settings, const DataFolder& data,
                            const char* source, const BackupMessage& message, bool record);

// The backup root's folder of the program's own temporaries: copies not yet
// whole, renamed into the generations once they are. It is no generation,
// so nothing in it is ever taken for a copy.
inline constexpr char kScratchName[] = ".tessmira-temp";
// The record, in the data folder, of the temporaries made beside their
// copies (where the scratch folder is on another file system, and in the
// folders a restore writes): one path a line, written before each is made.
inline constexpr char kTemporariesJournal[] = "TesmiTmp.txt";
void record_temporary(const DataFolder& data, const std::string& path);
// Removes what stopped runs left: every file in the scratch folder, and every
// temporary the record names that is still there, then the record.
void remove_leftovers(const BackupSettings& settings, const DataFolder& data);

// The absolute, normalised spelling of path (relative ones from the current
// folder) in out; false with problem set when it cannot be had.
bool absolute_path_of(const char* path, char (&out)[kPathBytes], std::string* problem);
// The part of path below folder: "" for folder itself; false when folder is
// neither path nor one of its folders.
bool path_below(const std::string& folder, const std::string& path, std::string* rest);

// The backup root without its trailing separator, for paths in messages.
inline std::string root_text(const BackupSettings& settings) {
  std::string root = settings.root;
  const std::size_t keep = root_length(root.c_str());
  while (root.size() > keep && is_separator(root.back())) root.pop_back();
  return root;
}

// An exclude pattern made ready once for the many paths of a run: its
// text without the separators at its ends, where it is matched (one name at
// any depth, or from the folder backed up), and the plain head and tail of
// its last part, which a path's last part must hold for it to match.
struct ExcludeRule {
  std::string pattern;
  bool any_depth = false;
  bool quick = false;  // head and tail tell a quick no (no "**" in the last part)
  bool wild = false;   // the last part holds a wildcard
  std::string head;
  std::string tail;
};
std::vector<ExcludeRule> exclude_rules(const std::vector<std::string>& patterns,
                                       const PathRules& rules = path_rules());
// Whether one of the exclude rules or, for a folder, its cache tag (when
// cache_tags is set) leaves path out; its part below the folder backed up
// starts after start_length characters (and a separator).
bool left_out(const std::vector<ExcludeRule>& excludes, bool cache_tags, const char* path,
              std::size_t start_length, bool folder);

// Each line of text, without its line break, to line(text).
template <typename Line>
void each_line(const std::string& text, Line line) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    line(text.substr(at, end - at));
    at = end + 1;
  }
}

// The whole file at path when shorter than most bytes, "" for a missing
// one; false when it cannot be read whole.
bool read_whole(const char* path, std::size_t most, std::string* text);

// Told of each entry a move could not handle: its path below the root as
// "F1/Photos/a.jpg" and the error.
using MoveProblem = void (*)(void* context, const char* path, std::int32_t error);
// Moves every entry of generation folder from into generation folder to
// (both inside root, names such as "F1"), making to when needed: folders
// merge, entries of the same relative path are replaced, a link is moved or
// replaced as the entry it is, never followed. A file that must cross file
// systems is copied as place says. True when everything moved.
bool move_generation_entries(TargetFolder root, const char* from, const char* to,
                             const CopyPlace& place, MoveProblem problem, void* context);

// Whether the open files a and b hold the same bytes, each read on from
// where it stands: true with the answer in *same, false with *error set when
// either cannot be read.
bool same_bytes(FileReader a, FileReader b, bool* same, std::int32_t* error);
// The same for the regular files at paths a and b.
bool same_files(const char* a, const char* b, bool* same, std::int32_t* error);
// Reads the regular file at path to its end: true with the bytes read in
// *size, false with *error set.
bool read_through(const char* path, std::uint64_t* size, std::int32_t* error);

}  // namespace backup_parts
