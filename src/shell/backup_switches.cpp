// The backup's switches: "/b=", "/r", "--versions=", "--verify=" and
// "--restore=", with the progress line of a long run on a terminal.
#include <cstdio>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "ports/clock.h"
#include "ports/console.h"
#include "shell/startup.h"
#include "text/text.h"

namespace {

// Whether a progress line stands unfinished on the terminal, and when the
// run began and the line was last written (milliseconds).
bool progress_shown = false;
constexpr std::uint32_t kProgressMs = 250;
std::uint32_t progress_began = 0;
std::uint32_t progress_written = 0;

// A long run's progress line on a terminal, a few times a second: files
// and bytes done, the rate and the time left.
void show_progress(const RunProgress& done) {
  const std::uint32_t now = tick_count();
  const bool last = done.files_total > 0 && done.files_done >= done.files_total;
  if (progress_shown && now - progress_written < kProgressMs && !last) return;
  progress_written = now;
  const double seconds = (now - progress_began) / 1000.0;
  const double megabytes = static_cast<double>(done.bytes_done) / 1e6;
  std::uint64_t left = 0;
  if (done.files_done > 0 && done.files_total > done.files_done) {
    left = static_cast<std::uint64_t>(seconds *
                                      static_cast<double>(done.files_total - done.files_done) /
                                      static_cast<double>(done.files_done));
  }
  char line[160];  // numbers of at most 20 digits each: never cut
  const int length = std::snprintf(
      line, sizeof line, "\r%llu of %llu files, %.1f of %.1f MB, %.1f MB/s, %llu:%02llu left  ",
      static_cast<unsigned long long>(done.files_done),
      static_cast<unsigned long long>(done.files_total), megabytes,
      static_cast<double>(done.bytes_total) / 1e6, seconds > 0 ? megabytes / seconds : 0.0,
      static_cast<unsigned long long>(left / 60), static_cast<unsigned long long>(left % 60));
  if (length > 0 && length < static_cast<int>(sizeof line)) console_error(line);
  progress_shown = true;
}

// The progress line's sink for a run, when standard error is a terminal
// (else only the summary and the problems are written); an interrupt from
// then on stops the run between two files.
BackupProgress start_long_run() {
  catch_interrupt();
  progress_began = tick_count();
  progress_shown = false;
  return console_error_is_terminal() ? show_progress : nullptr;
}

// Ends the progress line; when an interrupt stopped the run, says so.
int end_long_run(bool stopped, int status) {
  if (progress_shown) console_error("\n");
  progress_shown = false;
  if (!stopped) return status;
  shell_say("stopped by an interrupt; nothing was left half written");
  return kExitInterrupted;
}

void show_message(const char* line) {
  if (progress_shown) console_error("\n");
  progress_shown = false;
  shell_say(line);
}

// A dry run's plan, one line each on standard output.
void show_planned(const char* line) {
  console_out(line);
  console_out("\n");
}

// A run that writes the backups is alone, or not at all.
bool refused_beside_another(const Invocation& call, const char* nothing_done) {
  if (call.lock != InstanceLock::held_elsewhere) return false;
  shell_say((std::string("another Tessmira is running; ") + nothing_done).c_str());
  return true;
}

// A run that reads them waits for none that writes them.
bool refused_while_written(const Invocation& call, const char* nothing_done) {
  if (call.lock != InstanceLock::held_elsewhere) return false;
  shell_say((std::string("another Tessmira is writing the backups (a backup, rotation or "
                         "restore); ") +
             nothing_done + "; try again when it ends")
                .c_str());
  return true;
}

}  // namespace

int run_backup(AppState& state, const Invocation& call) {
  if (refused_beside_another(call, "no backup was made")) return kExitFailed;
  BackupReport report;
  const BackupProgress progress = start_long_run();
  const bool complete =
      backup_folder(state, call.argument.c_str(), &report, call.dry_run ? nullptr : progress,
                    show_message, call.dry_run ? show_planned : nullptr);
  if (progress_shown) console_error("\n");
  progress_shown = false;
  if (report.problem[0] != '\0') {
    std::string message = "no backup was made: ";
    shell_say((message + report.problem).c_str());
    return kExitFailed;
  }
  std::string line =
      std::to_string(report.copied) + (call.dry_run ? " files would be copied" : " files copied");
  if (report.failed > 0) line += ", " + std::to_string(report.failed) + " failed";
  if (report.changed > 0) {
    line += ", " + std::to_string(report.changed) + " changed while they were copied";
  }
  if (report.skipped > 0) line += ", " + std::to_string(report.skipped) + " skipped";
  if (call.dry_run) line += "; nothing was written";
  console_out((line + "\n").c_str());
  return end_long_run(report.stopped, complete ? kExitDone : kExitFailed);
}

int run_versions(AppState& state, const Invocation& call) {
  if (refused_while_written(call, "no copies were listed")) return kExitFailed;
  const char* path = call.argument.c_str();
  std::vector<FileVersion> versions;
  std::string problem;
  if (!list_versions(state, path, &versions, &problem)) {
    shell_say(("no copies were listed: " + problem).c_str());
    return kExitFailed;
  }
  for (const FileVersion& version : versions) console_out(version_line(version).c_str());
  if (versions.empty()) {
    shell_say((std::string("no copy of ") + path + " is in the backup generations").c_str());
    return kExitFailed;
  }
  return kExitDone;
}

int run_verify(AppState& state, const Invocation& call) {
  if (refused_while_written(call, "nothing was verified")) return kExitFailed;
  VerifyReport report;
  const bool sound =
      verify_folder(state, call.argument.c_str(), &report, start_long_run(), show_message);
  end_long_run(false, kExitDone);
  if (report.problem[0] != '\0') {
    shell_say((std::string("nothing was verified: ") + report.problem).c_str());
    return kExitFailed;
  }
  std::string line = std::to_string(report.checked) + " files verified";
  line +=
      report.problems == 0 ? ", no problem" : ", " + std::to_string(report.problems) + " problems";
  if (report.missing > 0) line += " (" + std::to_string(report.missing) + " without a copy)";
  console_out((line + "\n").c_str());
  return end_long_run(report.stopped, sound ? kExitDone : kExitFailed);
}

int run_restore(AppState& state, const Invocation& call) {
  if (refused_beside_another(call, "nothing was restored")) return kExitFailed;
  const RestoreRequest request{call.argument.c_str(), call.from,
                               call.to.empty() ? nullptr : call.to.c_str(), call.overwrite};
  RestoreReport report;
  const bool complete = restore_files(state, request, &report, start_long_run(), show_message);
  end_long_run(false, kExitDone);
  if (report.problem[0] != '\0') {
    shell_say((std::string("nothing was restored: ") + report.problem).c_str());
    return kExitFailed;
  }
  std::string line = std::to_string(report.restored) + " files restored";
  if (report.identical > 0) line += ", " + std::to_string(report.identical) + " already there";
  if (report.refused > 0) line += ", " + std::to_string(report.refused) + " left as they were";
  if (report.failed > 0) line += ", " + std::to_string(report.failed) + " failed";
  console_out((line + "\n").c_str());
  return end_long_run(report.stopped, complete ? kExitDone : kExitFailed);
}

int run_rotation(AppState& state, const Invocation& call) {
  if (refused_beside_another(call, "the generations were not rotated")) return kExitFailed;
  if (!is_absolute_path(state.settings.backup_root)) {
    shell_say("the backup root is not set; the generations were not rotated");
    return kExitFailed;
  }
  char generation[4];
  catch_interrupt();
  if (!rotate_backups(state, generation, shell_say, call.dry_run ? show_planned : nullptr)) {
    if (interrupted()) return end_long_run(true, kExitFailed);
    if (generation[0] != '\0') {
      shell_say(
          (std::string("the backup generation ") + generation + " could not be moved").c_str());
    }
    return kExitFailed;
  }
  if (call.dry_run) console_out("nothing was written\n");
  return kExitDone;
}
