// A private home with a folder tree to back up and the first start's
// settings, its backups going to <home>/Backup/Tessmira/.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "runs.h"
#include "settings/settings.h"
#include "support.h"

namespace test_support {

// What the last runs said, line by line.
inline std::vector<std::string> said;
inline void collect(const char* line) {
  said.emplace_back(line);
}

struct BackupFixture : ::testing::Test, PrivateHome {
  std::unique_ptr<AppState> state = std::make_unique<AppState>();
  fs::path tree = root / "Photos";
  fs::path backups = root / "Backup/Tessmira";
  BackupReport report{};
  void SetUp() override {
    enter_home();
    fs::create_directories(tree);
    choose_data_folder_at(state->data, program().c_str());
    load_settings(state->settings, state->extra, state->data);
    state->settings.select_mode = 1;
  }
  void put(const fs::path& name, const std::string& content = "x") {
    write_text(tree / name, content);
  }
  bool backup(const fs::path& folder) {
    said.clear();
    return backup_run(*state, folder.c_str(), &report, collect);
  }
  std::string copied(const fs::path& name) { return read_text(backups / "F0/Photos" / name); }
};

}  // namespace test_support
