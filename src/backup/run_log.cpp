// The run log: one line a backup, rotation, restore or verify, the oldest
// dropped past a thousand.
#include <string>

#include "backup/backup.h"
#include "backup/backup_parts.h"
#include "ports/clock.h"
#include "ports/files.h"

namespace {

// Far more than a thousand lines of a few hundred bytes each.
constexpr std::size_t kRunLogBytes = 8u << 20;

std::string flat(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

// The last keep lines of text.
std::string last_lines(const std::string& text, std::uint32_t keep) {
  std::size_t at = text.size();
  if (at > 0 && text[at - 1] == '\n') --at;
  for (std::uint32_t lines = 0; at > 0; --at) {
    if (text[at - 1] == '\n' && ++lines == keep) break;
  }
  return text.substr(at);
}

}  // namespace

std::string run_log_line(const RunLogEntry& entry, const char* local_time) {
  // Tenths of a second, rounded down.
  const std::string seconds = std::to_string(entry.milliseconds / 1000) + '.' +
                              std::to_string(entry.milliseconds % 1000 / 100);
  return std::string(local_time) + '\t' + flat(entry.command) + '\t' + std::to_string(entry.files) +
         " files\t" + std::to_string(entry.bytes) + " bytes\t" + seconds + " s\texit " +
         std::to_string(entry.status) + '\t' + flat(entry.problem) + '\n';
}

bool read_run_log(const DataFolder& data, std::string* text) {
  char path[kPathBytes];
  return data_file_path(data, kRunLogFile, path) &&
         backup_parts::read_whole(path, kRunLogBytes, text);
}

namespace {

// The entry's line at the current local time.
std::string line_now(const RunLogEntry& entry) {
  char now[20];
  if (!local_time_text(system_time_now(), now)) {
    now[0] = '?';  // no calendar time
    now[1] = '\0';
  }
  return run_log_line(entry, now);
}

}  // namespace

bool note_failed_run(const DataFolder& data, const RunLogEntry& entry) {
  char path[kPathBytes];
  const std::string line = line_now(entry);
  return data_file_path(data, kFailedRunsFile, path) && file_append(path, line.data(), line.size());
}

std::string take_failed_runs(const DataFolder& data) {
  char path[kPathBytes];
  std::string text;
  if (!data_file_path(data, kFailedRunsFile, path) ||
      !backup_parts::read_whole(path, kRunLogBytes, &text) || text.empty())
    return "";
  // Told once: a file that cannot be removed is not told again and again.
  if (!remove_file(path)) return "";
  return text;
}

bool append_run_log(const DataFolder& data, const RunLogEntry& entry, bool trim) {
  char path[kPathBytes];
  if (!data_file_path(data, kRunLogFile, path)) return false;
  std::string text;
  if (trim && backup_parts::read_whole(path, kRunLogBytes, &text)) {
    const std::string kept = last_lines(text, kRunLogRuns - 1);
    if (kept.size() < text.size() && !file_replace(path, kept.data(), kept.size())) return false;
  }
  const std::string line = line_now(entry);
  return file_append(path, line.data(), line.size());
}
