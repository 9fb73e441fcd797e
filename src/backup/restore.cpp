// "--restore=PATH": the copies of a file, or of a folder's tree, written back
// as they stood in a generation.
#include <algorithm>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "ports/backup_target.h"
#include "ports/console.h"
#include "ports/files.h"
#include "text/text.h"

using namespace backup_parts;

namespace {

// One file to write: the copy chosen and where it goes, split into the
// folders below the anchor (the folder the restore writes into) and its name.
struct Placement {
  std::string copy;
  bool link;           // the copy is a link, restored as one
  std::uint64_t size;  // the copy's
  std::vector<std::string> folders;
  std::string name;
  std::string target;  // the whole path, for messages
};

std::vector<std::string> components_of(const std::string& relative) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : relative) {
    if (is_separator(c)) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// For each file the copy in generation from or the nearest older one: the
// versions come grouped by file.
std::vector<const FileVersion*> chosen_copies(const std::vector<FileVersion>& versions,
                                              std::uint32_t from) {
  std::vector<const FileVersion*> chosen;
  for (const FileVersion& version : versions) {
    if (version.rank < from) continue;
    if (!chosen.empty() && chosen.back()->original == version.original) {
      if (version.rank < chosen.back()->rank) chosen.back() = &version;
    } else {
      chosen.push_back(&version);
    }
  }
  return chosen;
}

// The folders open from the anchor down to the present file's, reused while
// the next file lies in the same ones.
struct Restore {
  const DataFolder& data;
  const RestoreRequest& request;
  RestoreReport* report;
  BackupMessage message;
  std::string anchor;
  std::vector<std::string> open_names;
  std::vector<TargetFolder> open;  // open[0] the anchor, open[k] open_names[k - 1]
  // The backup root and its generations, never written into, by identity.
  std::vector<FolderIdentity> guarded;
  bool anchor_refused = false;  // said once; every file then fails
};

std::vector<FolderIdentity> guarded_folders(const BackupSettings& settings) {
  std::vector<FolderIdentity> guarded;
  const std::string root = root_text(settings);
  FolderIdentity identity{};
  if (folder_identity(root.c_str(), &identity)) guarded.push_back(identity);
  for (const char* generation : kGenerationNames) {
    const std::string folder = root + path_rules().separator + generation;
    if (folder_identity(folder.c_str(), &identity)) guarded.push_back(identity);
  }
  return guarded;
}

bool is_guarded(const Restore& restore, const FolderIdentity& identity) {
  return std::any_of(restore.guarded.begin(), restore.guarded.end(), [&](const FolderIdentity& g) {
    return g.device == identity.device && g.inode == identity.inode;
  });
}

// Refuses folder (closing it) when it, or any folder above it as the file
// system reaches it, is the backup root or a generation: so no spelling of
// a destination (a link, another drive letter, a long-path prefix) lands in
// the backups. -1 then, with the refusal said once.
TargetFolder outside_backups(Restore& restore, TargetFolder folder, bool whole_chain) {
  std::vector<FolderIdentity> chain;
  FolderIdentity identity{};
  const bool known =
      whole_chain ? target_folder_chain(folder, &chain) : target_folder_identity(folder, &identity);
  if (!whole_chain) chain.push_back(identity);
  if (known && std::none_of(chain.begin(), chain.end(),
                            [&](const FolderIdentity& at) { return is_guarded(restore, at); })) {
    return folder;
  }
  target_close(folder);
  tell(restore.message,
       restore.anchor + (known ? " lies in the backup root; nothing is written there"
                               : ": cannot tell where it lies; nothing is written there"));
  restore.anchor_refused = true;
  return -1;
}

// The anchor: its deepest folder that exists, opened as its path reaches it
// (a link the user named is followed there) and checked, then each missing
// folder below it made. -1 with the reason told.
TargetFolder open_anchor(Restore& restore) {
  std::string existing = restore.anchor;
  std::vector<std::string> missing;
  std::int32_t error = 0;
  TargetFolder folder = target_open_root(existing.c_str(), 0, &error);
  while (folder < 0 && error == kErrorMissing && existing.size() > root_length(existing.c_str())) {
    const std::int32_t separator = last_separator(existing.c_str());
    if (separator < 0) break;
    missing.insert(missing.begin(), existing.substr(static_cast<std::size_t>(separator) + 1));
    existing.resize(
        std::max<std::size_t>(static_cast<std::size_t>(separator), root_length(existing.c_str())));
    folder = target_open_root(existing.c_str(), 0, &error);
  }
  if (folder < 0) {
    tell(restore.message, "cannot write into " + restore.anchor + ": " + reason_of(error));
    restore.anchor_refused = true;
    return -1;
  }
  folder = outside_backups(restore, folder, true);
  for (const std::string& name : missing) {
    if (folder < 0) break;
    const TargetFolder inner = target_open_folder(folder, name.c_str(), 1, &error);
    target_close(folder);
    folder = inner;
    if (folder < 0) {
      tell(restore.message, "cannot write into " + restore.anchor + ": " + reason_of(error));
      restore.anchor_refused = true;
    }
  }
  return folder;
}

void close_from(Restore& restore, std::size_t keep) {
  while (restore.open.size() > keep) {
    target_close(restore.open.back());
    restore.open.pop_back();
    if (!restore.open_names.empty() && restore.open_names.size() >= restore.open.size()) {
      restore.open_names.pop_back();
    }
  }
}

// The folder a placement goes into, made where missing; -1 with the reason told.
TargetFolder reach(Restore& restore, const Placement& placement) {
  std::size_t same = 0;
  while (same < restore.open_names.size() && same < placement.folders.size() &&
         restore.open_names[same] == placement.folders[same]) {
    ++same;
  }
  if (!restore.open.empty()) close_from(restore, same + 1);
  std::int32_t error = 0;
  if (restore.anchor_refused) return -1;
  if (restore.open.empty()) {
    const TargetFolder anchor = open_anchor(restore);
    if (anchor < 0) return -1;
    restore.open.push_back(anchor);
  }
  for (std::size_t k = restore.open_names.size(); k < placement.folders.size(); ++k) {
    TargetFolder folder =
        target_open_folder(restore.open.back(), placement.folders[k].c_str(), 1, &error);
    if (folder < 0) {
      tell(restore.message, "cannot write into the folder " + placement.folders[k] + " of " +
                                placement.target + ": " + reason_of(error));
      return -1;
    }
    // A mount of the backups below the destination.
    if ((folder = outside_backups(restore, folder, false)) < 0) return -1;
    restore.open.push_back(folder);
    restore.open_names.push_back(placement.folders[k]);
  }
  return restore.open.back();
}

// Whether what is at the placement already is the copy: the same bytes, or
// for a link the same target text. False with the reason told when that
// cannot be told.
bool already_there(Restore& restore, const Placement& placement, TargetFolder folder,
                   TargetEntry there, bool* same) {
  std::int32_t error = 0;
  bool compared = true;
  if (placement.link) {
    std::string wanted;
    std::string found;
    std::uint64_t written = 0;
    compared = read_link(placement.copy.c_str(), &wanted, &written, &error) &&
               (there != TargetEntry::link ||
                target_read_link(folder, placement.name.c_str(), &found, &error));
    *same = there == TargetEntry::link && found == wanted;
  } else {
    const FileReader copy =
        there == TargetEntry::file ? reader_open(placement.copy.c_str(), &error) : -1;
    const FileReader found =
        copy < 0 ? -1 : target_reader_open(folder, placement.name.c_str(), &error);
    compared = found >= 0 && same_bytes(copy, found, same, &error);
    reader_close(copy);
    reader_close(found);
  }
  if (!compared) {
    tell(restore.message,
         "cannot compare " + placement.target + " with its copy: " + reason_of(error));
  }
  return compared;
}

struct Beside {
  const DataFolder& data;
  std::string folder;
};

void record_beside(void* context, const char* name) {
  const auto* beside = static_cast<const Beside*>(context);
  record_temporary(beside->data, beside->folder + path_rules().separator + name);
}

void restore_one(Restore& restore, const Placement& placement) {
  RestoreReport& report = *restore.report;
  const TargetFolder folder = reach(restore, placement);
  if (folder < 0) {
    ++report.failed;
    return;
  }
  const char* name = placement.name.c_str();
  std::int32_t error = 0;
  const TargetEntry there = target_entry(folder, name, &error);
  // A link restored replaces a file or a link (the entry itself, never what it
  // leads to); a file never goes through a link.
  const bool replaceable =
      there == TargetEntry::file || (placement.link && there == TargetEntry::link);
  switch (replaceable ? TargetEntry::file : there) {
    case TargetEntry::none:
      break;
    case TargetEntry::file: {
      bool same = false;
      if (!already_there(restore, placement, folder, there, &same)) {
        ++report.failed;
        return;
      }
      if (same) {
        ++report.identical;
        return;
      }
      if (!restore.request.overwrite) {
        ++report.refused;
        tell(restore.message,
             placement.target + " differs from its copy; left as it is (--overwrite replaces it)");
        return;
      }
      break;
    }
    case TargetEntry::link:
      ++report.failed;
      tell(restore.message, placement.target + " is a link; nothing is written through it");
      return;
    default:
      ++report.failed;
      tell(restore.message, placement.target + " is not a file; left as it is");
      return;
  }
  CopiedFile copied{};
  // No scratch folder of ours lies in the user's folders: every temporary is
  // made beside its file, and recorded first.
  Beside beside{restore.data,
                placement.target.substr(
                    0, static_cast<std::size_t>(last_separator(placement.target.c_str())))};
  const CopyPlace place{-1, record_beside, nullptr, &beside};
  const std::int32_t result =
      placement.link
          ? target_copy_link(placement.copy.c_str(), folder, name, place, &copied, &error)
          : target_copy_file(placement.copy.c_str(), folder, name, place, &copied, &error);
  if (result == kCopyDone) {
    ++report.restored;
    report.bytes_restored += copied.size;
    return;
  }
  ++report.failed;
  tell(restore.message, std::string("cannot ") + (result == kCopyReadFailed ? "read " : "write ") +
                            (result == kCopyReadFailed ? placement.copy : placement.target) + ": " +
                            reason_of(error));
}

bool give_up(RestoreReport* report, const char* problem) {
  report->problem = problem;
  return false;
}

}  // namespace

bool restore_files(const BackupSettings& settings, const DataFolder& data,
                   const RestoreRequest& request, RestoreReport* report, const Progress& progress,
                   BackupMessage message) {
  *report = RestoreReport{};
  std::vector<FileVersion> versions;
  std::string problem;
  char source[kPathBytes];
  char destination[kPathBytes];
  if (!list_versions(settings, data, request.path, &versions, &problem) ||
      !absolute_path_of(request.path, source, &problem) ||
      (request.destination != nullptr &&
       !absolute_path_of(request.destination, destination, &problem))) {
    report->problem = problem;
    return false;
  }
  const std::vector<const FileVersion*> chosen = chosen_copies(versions, request.from);
  if (chosen.empty()) return give_up(report, "no copy of it is in the generations");
  const std::string base = request.destination != nullptr ? destination : source;
  // A file backed up as itself is restored as base; else a tree below base.
  const FileVersion* file = nullptr;
  for (const FileVersion* version : chosen) {
    if (same_path(version->original.c_str(), source)) file = version;
  }
  std::string anchor = base;
  std::vector<Placement> placements;
  std::string rest;
  for (const FileVersion* version : chosen) {
    if (file != nullptr && version != file) continue;
    Placement placement{version->copy, version->link, version->size, {}, {}, {}};
    if (file != nullptr) {
      const std::int32_t separator = last_separator(base.c_str());
      placement.name = base.substr(static_cast<std::size_t>(separator) + 1);
      anchor = base.substr(
          0, std::max<std::size_t>(static_cast<std::size_t>(separator), root_length(base.c_str())));
      placement.target = base;
    } else {
      path_below(source, version->original, &rest);
      placement.folders = components_of(rest);
      if (placement.folders.empty()) continue;
      placement.name = placement.folders.back();
      placement.folders.pop_back();
      placement.target = base;
      placement.target += path_rules().separator;
      placement.target += rest;
    }
    placements.push_back(placement);
  }
  // What a stopped restore (or backup) left half written.
  remove_leftovers(settings, data);
  Restore restore{data, request, report, message, anchor, {}, {}, guarded_folders(settings)};
  const std::string root = root_text(settings);
  RunProgress done{0, placements.size(), 0, 0};
  for (const Placement& placement : placements) done.bytes_total += placement.size;
  for (const Placement& placement : placements) {
    // Asked to stop: between two files, never inside one.
    if (interrupted()) {
      report->stopped = true;
      break;
    }
    ++done.files_done;
    done.bytes_done += placement.size;
    progress.tell(done);
    // Whatever the destination, nothing lands inside the backup root.
    if (path_below(root, placement.target, &rest)) {
      ++report->failed;
      tell(message, placement.target + " lies in the backup root; it is not written there");
      continue;
    }
    restore_one(restore, placement);
  }
  close_from(restore, 0);
  // Every temporary made is renamed or removed by now: the record goes too.
  remove_leftovers(settings, data);
  progress.tell(done);
  return report->refused == 0 && report->failed == 0 && !report->stopped;
}
