#include "shell/progress_line.h"

#include <cstdio>

#include "ports/clock.h"
#include "ports/console.h"
#include "ports/desktop.h"
#include "shell/startup.h"

namespace {

constexpr std::uint32_t kProgressMs = 250;

void show_progress(void* context, const RunProgress& done) {
  ProgressLine& line = *static_cast<ProgressLine*>(context);
  const std::uint32_t now = tick_count();
  const bool last = done.files_total > 0 && done.files_done >= done.files_total;
  if (line.shown && now - line.written < kProgressMs && !last) return;
  line.written = now;
  const double seconds = (now - line.began) / 1000.0;
  const double megabytes = static_cast<double>(done.bytes_done) / 1e6;
  std::uint64_t left = 0;
  if (done.files_done > 0 && done.files_total > done.files_done) {
    left = static_cast<std::uint64_t>(seconds *
                                      static_cast<double>(done.files_total - done.files_done) /
                                      static_cast<double>(done.files_done));
  }
  char text[160];  // numbers of at most 20 digits each: never cut
  const int length = std::snprintf(
      text, sizeof text, "\r%llu of %llu files, %.1f of %.1f MB, %.1f MB/s, %llu:%02llu left  ",
      static_cast<unsigned long long>(done.files_done),
      static_cast<unsigned long long>(done.files_total), megabytes,
      static_cast<double>(done.bytes_total) / 1e6, seconds > 0 ? megabytes / seconds : 0.0,
      static_cast<unsigned long long>(left / 60), static_cast<unsigned long long>(left % 60));
  if (length > 0 && length < static_cast<int>(sizeof text)) console_error(text);
  line.shown = true;
}

// A notice ends an unfinished line first.
void show_notice(void* context, const char* text) {
  ProgressLine& line = *static_cast<ProgressLine*>(context);
  if (line.shown) console_error("\n");
  line.shown = false;
  if (line.first_notice.empty()) line.first_notice = text;
  shell_say(text);
}

void show_planned(const char* text) {
  console_out(text);
  console_out("\n");
}

}  // namespace

void progress_begin(ProgressLine& line) {
  catch_interrupt();
  line = ProgressLine{console_error_is_terminal(), false, tick_count(), 0, {}};
}

Progress progress_of(ProgressLine& line) {
  return line.terminal ? Progress{show_progress, &line} : Progress{};
}

BackupMessage notices_of(ProgressLine& line) {
  return BackupMessage(show_notice, &line);
}

BackupMessage planned_lines() {
  return BackupMessage(show_planned);
}

int progress_end(ProgressLine& line, bool stopped, int status) {
  if (line.shown) console_error("\n");
  line.shown = false;
  if (!stopped) return status;
  shell_say("stopped by an interrupt; nothing was left half written");
  return kExitInterrupted;
}

int log_run(const AppState& state, const Invocation& call, const ProgressLine& line,
            const RunDone& done, int status) {
  if (call.dry_run) return status;
  const std::string usage = call.row->usage;
  const std::size_t equals = usage.find('=');
  RunLogEntry entry;
  entry.command = equals == std::string::npos ? usage : usage.substr(0, equals + 1) + call.argument;
  if (!call.to.empty()) entry.command += " --to=" + call.to;
  entry.files = done.files;
  entry.bytes = done.bytes;
  entry.milliseconds = tick_count() - line.began;
  entry.status = status;
  entry.problem = done.problem.empty() ? line.first_notice : done.problem;
  // Only a run that holds the lock alone trims the log.
  if (!append_run_log(state.data, entry, call.lock == InstanceLock::held)) {
    shell_say("the run could not be written to the run log TesmiLog.txt");
  }
  // Nobody watches a scheduled run: its failure is told on the desktop now
  // and by the viewer's next start.
  if (call.scheduled && status != kExitDone) {
    if (!note_failed_run(state.data, entry)) {
      shell_say("the failed run could not be noted in TesmiFail.txt");
    }
    const std::string text = entry.command + " ended with exit status " + std::to_string(status) +
                             (entry.problem.empty() ? "" : ": " + entry.problem) +
                             ". tessmira --log shows every run.";
    desktop_notify("A scheduled Tessmira backup failed", text.c_str());
  }
  return status;
}
