// The "/r" run: the generations moved on, each step recorded first in the
// rotation's journal so that a stopped run is finished, never repeated.
#include <string>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "ports/backup_target.h"
#include "ports/console.h"
#include "ports/files.h"
#include "settings/settings.h"
#include "text/text.h"

using namespace backup_parts;

namespace {

struct MoveContext {
  const DataFolder& data;
  std::string root;
  BackupMessage message;
};

void tell_move_problem(void* context, const char* path, std::int32_t error) {
  const auto* move = static_cast<const MoveContext*>(context);
  tell(move->message, "cannot move " + move->root + "/" + path + ": " + reason_of(error));
}

// A move's temporary beside its copy: its path below the root.
void record_below_root(void* context, const char* path) {
  const auto* move = static_cast<const MoveContext*>(context);
  record_temporary(move->data, move->root + path_rules().separator + path);
}

}  // namespace

bool move_generation(const BackupSettings& settings, const DataFolder& data, const char* from,
                     const char* to, BackupMessage message) {
  MoveContext context{data, root_text(settings), message};
  std::int32_t error = 0;
  const TargetFolder root = target_open_root(settings.root.c_str(), 0, &error);
  // No backup root yet: no generation to move.
  if (root < 0) {
    if (error == kErrorMissing) return true;  // no such generation: nothing to move
    tell_move_problem(&context, "", error);
    return false;
  }
  // Only a move across file systems copies; its temporaries go where a
  // backup's would.
  const TargetFolder scratch = target_open_folder(root, kScratchName, 0, &error);
  const CopyPlace place{scratch, record_below_root, nullptr, &context};
  const bool moved = move_generation_entries(root, from, to, place, tell_move_problem, &context);
  target_close(scratch);
  target_close(root);
  return moved;
}

namespace {

constexpr std::uint32_t kLastCounter = 255;

// A rotation, as its journal records it before each step: the counter to
// save at its end, the older generation it moves on (the index of "from";
// "to" is the next), and the step it is at.
enum class RotationStep : std::uint32_t { older = 1, newest = 2, counter = 3 };
struct Rotation {
  std::uint32_t counter;
  std::uint32_t older;
  RotationStep step;
};

bool journal_path(const DataFolder& data, char path[kPathBytes]) {
  return data_file_path(data, kRotationJournal, path);
}

bool write_journal(const DataFolder& data, const Rotation& rotation) {
  char path[kPathBytes];
  const std::string text = "counter=" + std::to_string(rotation.counter) +
                           "\nolder=" + kGenerationNames[rotation.older] +
                           "\nstep=" + std::to_string(static_cast<std::uint32_t>(rotation.step)) +
                           "\n";
  return journal_path(data, path) && file_replace(path, text.data(), text.size());
}

// The number after "key=" on its own line of text, or -1.
std::int64_t journal_number(const std::string& text, const std::string& key) {
  const std::size_t at = text.find(key + "=");
  if (at == std::string::npos || (at > 0 && text[at - 1] != '\n')) return -1;
  std::int64_t value = 0;
  std::size_t digit = at + key.size() + 1;
  for (; digit < text.size() && text[digit] >= '0' && text[digit] <= '9' && value < 1000; ++digit) {
    value = value * 10 + (text[digit] - '0');
  }
  return digit < text.size() && text[digit] == '\n' && digit > at + key.size() + 1 ? value : -1;
}

// A stopped rotation's journal: read into *rotation, none, or one that
// cannot be read (and was said).
enum class JournalRead { read, none, unreadable };
JournalRead read_journal(const DataFolder& data, Rotation* rotation, BackupMessage message) {
  char path[kPathBytes];
  if (!journal_path(data, path) || !path_taken(path)) return JournalRead::none;
  char bytes[256] = {};
  const std::int64_t count = file_read_start(path, bytes, sizeof bytes - 1);
  const std::string text(bytes, count > 0 ? static_cast<std::size_t>(count) : 0);
  const std::int64_t counter = journal_number(text, "counter");
  const std::int64_t step = journal_number(text, "step");
  const std::size_t named = text.find("\nolder=F");
  std::uint32_t older = kGenerationCount;
  for (std::uint32_t k = 1; k + 1 < kGenerationCount && named != std::string::npos; ++k) {
    if (text.compare(named + 7, 3, std::string(kGenerationNames[k]) + "\n") == 0) older = k;
  }
  if (counter < 0 || counter > kLastCounter || step < 1 || step > 3 || older >= kGenerationCount) {
    tell(message, std::string("the journal of a stopped rotation, ") + path +
                      ", cannot be read; no rotation was made (look at the generations, then "
                      "remove it)");
    return JournalRead::unreadable;
  }
  *rotation = Rotation{static_cast<std::uint32_t>(counter), older,
                       static_cast<RotationStep>(static_cast<std::uint32_t>(step))};
  return JournalRead::read;
}

// The rotation the counter calls for next: the lowest set bit k of the next
// count moves F(k+1) on; none of bits 0..7 moves F9 into FX and starts the
// count again.
Rotation next_rotation(const SettingsBlock& settings) {
  const std::uint32_t n = settings.backup_generation + 1;
  std::uint32_t k = 0;
  while (k < 8 && (n & (1u << k)) == 0) ++k;
  return Rotation{k == 8 ? 0 : n, k + 1, RotationStep::older};
}

}  // namespace

bool rotate_backups(SettingsBlock& block, const DataFolder& data, const BackupOptions& options,
                    char failed_generation[4]) {
  failed_generation[0] = '\0';
  const BackupMessage& message = options.message;
  const BackupMessage& planned = options.planned;
  const bool dry_run = options.dry_run;
  const BackupSettings settings = backup_settings_of(block);
  if (!is_absolute_path(settings.root.c_str())) return false;
  Rotation rotation{};
  const JournalRead stopped = read_journal(data, &rotation, message);
  if (stopped == JournalRead::unreadable) return false;
  if (stopped == JournalRead::read) {
    tell(dry_run ? planned : message,
         dry_run ? "would finish the rotation a stopped run began"
                 : "finishing the rotation a stopped run began; no other was made");
  } else {
    rotation = next_rotation(block);
  }
  if (stopped != JournalRead::read && !dry_run) {
    // Recorded before anything moves, so that a run stopped at any point is
    // finished by the next one, never repeated over what already moved.
    if (!write_journal(data, rotation)) {
      tell(message, "the rotation could not be recorded in the data folder; none was made");
      return false;
    }
  }
  if (dry_run) {
    if (rotation.step == RotationStep::older) {
      tell(planned, std::string("would move ") + kGenerationNames[rotation.older] + " into " +
                        kGenerationNames[rotation.older + 1]);
    }
    if (rotation.step != RotationStep::counter) tell(planned, "would move F0 into F1");
    tell(planned, "would count the rotation as number " + std::to_string(rotation.counter));
    return true;
  }
  bool moved = true;
  // Asked to stop: between two steps, which the journal lets the next run finish.
  if (interrupted()) return false;
  remove_leftovers(settings, data);
  if (rotation.step == RotationStep::older) {
    if (!move_generation(settings, data, kGenerationNames[rotation.older],
                         kGenerationNames[rotation.older + 1], message)) {
      copy_text(kGenerationNames[rotation.older], failed_generation);
      moved = false;
    }
    rotation.step = RotationStep::newest;
    if (!write_journal(data, rotation)) return false;
  }
  if (interrupted()) return false;
  if (rotation.step == RotationStep::newest) {
    if (!move_generation(settings, data, "F0", "F1", message) && moved) {
      copy_text("F0", failed_generation);
      moved = false;
    }
    rotation.step = RotationStep::counter;
    if (!write_journal(data, rotation)) return false;
  }
  block.backup_generation = rotation.counter;
  if (!write_settings_file(block, data)) {
    tell(message, "the settings could not be saved");
    return false;
  }
  char path[kPathBytes];
  if (journal_path(data, path)) remove_file(path);
  remove_leftovers(settings, data);
  return moved;
}
