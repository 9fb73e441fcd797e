// POSIX scheduler: a systemd user timer and service for each scheduled
// folder, in $XDG_CONFIG_HOME/systemd/user, enabled through systemctl --user.
// The timer keeps what the listing shows (folder, interval, rotation) in
// X- keys systemd ignores; Persistent= makes a run missed while the machine
// was off happen at the next start.
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/posix_files.h"
#include "ports/files.h"
#include "ports/scheduler.h"

namespace {

constexpr char kUnitPrefix[] = "tessmira-backup-";

// Runs words (the first found on PATH), its standard output and error in
// *output; its exit status, or -1 when it could not be run.
int run_words(const std::vector<std::string>& words, std::string* output) {
  // Made before the fork: the child only calls what is safe there.
  std::vector<char*> argv(words.size() + 1, nullptr);
  for (std::size_t i = 0; i < words.size(); ++i) argv[i] = const_cast<char*>(words[i].c_str());
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    dup2(pipe_ends[1], 1);
    dup2(pipe_ends[1], 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipe_ends[1]);
  output->clear();
  char buffer[4096];
  for (ssize_t got = 0; child > 0 && (got = read(pipe_ends[0], buffer, sizeof buffer)) != 0;) {
    if (got > 0) output->append(buffer, static_cast<std::size_t>(got));
    if (got < 0 && errno != EINTR) break;
  }
  close(pipe_ends[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int systemctl(std::vector<std::string> words, std::string* output) {
  words.insert(words.begin(), {"systemctl", "--user"});
  return run_words(words, output);
}

bool manager_reached() {
  std::string ignored;
  return systemctl({"show-environment"}, &ignored) == 0;
}

std::string unit_folder() {
  const std::string config = config_home();
  return config.empty() ? "" : config + "/systemd/user";
}

// The folder's path as systemd escapes a path for a unit name: the slashes
// at its ends dropped, the others "-", every other byte but letters, digits,
// ':', '_' and a '.' not leading as \xNN.
std::string unit_name(const std::string& folder) {
  std::string trimmed = folder;
  while (!trimmed.empty() && trimmed.front() == '/') trimmed.erase(0, 1);
  while (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
  if (trimmed.empty()) return std::string(kUnitPrefix) + "-";
  std::string name = kUnitPrefix;
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(trimmed[i]);
    if (c == '/') {
      name += '-';
    } else if (std::isalnum(c) != 0 || c == ':' || c == '_' || (c == '.' && i > 0)) {
      name += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789abcdef";
      name += "\\x";
      name += kHex[c >> 4];
      name += kHex[c & 15];
    }
  }
  return name;
}

// One word of an ExecStart= line: quoted, with systemd's escapes and its
// specifiers and variables kept literal.
std::string exec_word(const std::string& word) {
  std::string quoted = "\"";
  for (const char c : word) {
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '%') quoted += '%';
    if (c == '$') quoted += '$';
    quoted += c;
  }
  return quoted + "\"";
}

const char* calendar_of(ScheduleEvery every) {
  return every == ScheduleEvery::hour ? "hourly" : every == ScheduleEvery::day ? "daily" : "weekly";
}

std::string description(const Schedule& schedule) {
  std::string text = "Tessmira backup of " + schedule.folder;
  // % starts a specifier here too.
  std::string kept;
  for (const char c : text) kept += c == '%' ? std::string("%%") : std::string(1, c);
  return kept + ", every " + every_word(schedule.every);
}

std::string service_text(const Schedule& schedule) {
  std::string exec;
  for (const std::string& word : schedule_words(schedule))
    exec += (exec.empty() ? "" : " ") + exec_word(word);
  return "[Unit]\nDescription=" + description(schedule) +
         "\n\n[Service]\nType=oneshot\nExecStart=" + exec + "\nNice=10\nIOSchedulingClass=idle\n";
}

std::string timer_text(const Schedule& schedule) {
  return "[Unit]\nDescription=" + description(schedule) + "\nX-Tessmira-Folder=" + schedule.folder +
         "\nX-Tessmira-Every=" + every_word(schedule.every) +
         "\nX-Tessmira-Rotate=" + (schedule.rotate ? "yes" : "no") +
         "\nX-Tessmira-Program=" + schedule.program +
         "\n\n[Timer]\nOnCalendar=" + calendar_of(schedule.every) +
         "\nPersistent=true\n\n[Install]\nWantedBy=timers.target\n";
}

bool write_unit(const std::string& path, const std::string& text) {
  return file_replace(path.c_str(), text.data(), text.size());
}

// What the program said, on one line, for a message.
std::string said_of(const std::string& output) {
  std::string line = output.substr(0, output.find('\n'));
  return line.empty() ? "no reason given" : line;
}

// The value of key on line, when line sets it.
bool value_of(const std::string& line, const char* key, std::string* value) {
  if (line.rfind(key, 0) != 0) return false;
  *value = line.substr(std::strlen(key));
  return true;
}

bool read_timer(const std::string& path, Schedule* schedule) {
  std::ifstream file(path);
  std::string line;
  std::string value;
  bool folder = false;
  while (std::getline(file, line)) {
    if (value_of(line, "X-Tessmira-Folder=", &value)) {
      schedule->folder = value;
      folder = true;
    } else if (value_of(line, "X-Tessmira-Every=", &value)) {
      every_of_word(value, &schedule->every);
    } else if (value_of(line, "X-Tessmira-Rotate=", &value)) {
      schedule->rotate = value == "yes";
    } else if (value_of(line, "X-Tessmira-Program=", &value)) {
      schedule->program = value;
    }
  }
  return folder;
}

}  // namespace

SchedulerResult scheduler_add(const Schedule& schedule, std::string* problem) {
  if (std::any_of(schedule.folder.begin(), schedule.folder.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    *problem = "a folder whose path holds a control character cannot be scheduled";
    return SchedulerResult::failed;
  }
  if (!manager_reached()) {
    *problem = "no systemd user session: systemctl --user cannot reach the user's service manager";
    return SchedulerResult::missing;
  }
  const std::string folder = unit_folder();
  if (folder.empty() || !make_folders(folder.c_str())) {
    *problem = "the folder of the user's units, " + folder + ", cannot be made";
    return SchedulerResult::failed;
  }
  const std::string name = unit_name(schedule.folder);
  const std::string base = folder + "/" + name;
  if (!write_unit(base + ".service", service_text(schedule)) ||
      !write_unit(base + ".timer", timer_text(schedule))) {
    *problem = "the units cannot be written in " + folder;
    return SchedulerResult::failed;
  }
  std::string output;
  if (systemctl({"daemon-reload"}, &output) != 0 ||
      systemctl({"enable", "--now", name + ".timer"}, &output) != 0) {
    *problem = "systemctl --user could not enable " + name + ".timer: " + said_of(output);
    unlink((base + ".timer").c_str());
    unlink((base + ".service").c_str());
    systemctl({"daemon-reload"}, &output);
    return SchedulerResult::failed;
  }
  return SchedulerResult::done;
}

SchedulerResult scheduler_list(std::vector<Schedule>* schedules, std::string* problem) {
  schedules->clear();
  const std::string folder = unit_folder();
  DIR* listing = folder.empty() ? nullptr : opendir(folder.c_str());
  if (listing == nullptr) return SchedulerResult::done;  // none set up yet
  std::vector<std::string> timers;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): a stream of this call's own, never shared
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.rfind(kUnitPrefix, 0) == 0 && name.size() > 6 &&
        name.compare(name.size() - 6, 6, ".timer") == 0) {
      timers.push_back(name);
    }
  }
  closedir(listing);
  const bool reached = manager_reached();
  for (const std::string& timer : timers) {
    Schedule schedule{"", ScheduleEvery::day, false, "", ""};
    std::string path = folder;
    path += "/";
    path += timer;
    if (!read_timer(path, &schedule)) continue;
    std::string output;
    if (reached &&
        systemctl({"show", "-p", "NextElapseUSecRealtime", "--value", timer}, &output) == 0) {
      schedule.next_run = output.substr(0, output.find('\n'));
    }
    schedules->push_back(schedule);
  }
  std::sort(schedules->begin(), schedules->end(),
            [](const Schedule& a, const Schedule& b) { return a.folder < b.folder; });
  if (!reached && !schedules->empty()) {
    *problem = "no systemd user session: the times of the next runs are not known";
  }
  return reached ? SchedulerResult::done : SchedulerResult::missing;
}

SchedulerResult scheduler_remove(const std::string& folder, bool* found, std::string* problem) {
  const std::string units = unit_folder();
  const std::string name = unit_name(folder);
  const std::string base = units + "/" + name;
  *found = !units.empty() && access((base + ".timer").c_str(), F_OK) == 0;
  if (!*found) return SchedulerResult::done;
  std::string output;
  const bool reached = manager_reached();
  if (reached && systemctl({"disable", "--now", name + ".timer"}, &output) != 0) {
    *problem = "systemctl --user could not disable " + name + ".timer: " + said_of(output);
    return SchedulerResult::failed;
  }
  if (unlink((base + ".timer").c_str()) != 0 ||
      (unlink((base + ".service").c_str()) != 0 && errno != ENOENT)) {
    *problem = "the units " + base + ".timer and .service cannot be removed";
    return SchedulerResult::failed;
  }
  if (reached) systemctl({"daemon-reload"}, &output);
  return SchedulerResult::done;
}
