// The "Results Report": the catalog build on a thread of its own while the
// desktop shows its progress. Apart from the build so that programs without a
// desktop (the benchmarks) can link the catalog.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "catalog/catalog.h"
#include "ports/desktop.h"

namespace {

// What the build thread hands the report: the log after each line, numbered
// so that the report copies it only when it changed.
struct ReportProgress {
  Catalog* catalog = nullptr;
  std::mutex lock;
  std::string log;                 // under lock
  std::string reading;             // under lock: the tree being read
  std::uint64_t version = 0;       // under lock
  std::uint64_t read_version = 0;  // the report's thread only
  std::atomic<bool> finished{false};
};

void report_log(void* context, const char* log) {
  auto* progress = static_cast<ReportProgress*>(context);
  std::lock_guard<std::mutex> hold(progress->lock);
  progress->log = log;
  // Each tree's line is logged as its scan begins: the last is being read.
  const std::size_t line = progress->log.rfind("\r\n");
  progress->reading = line == std::string::npos ? "" : progress->log.substr(line + 2);
  ++progress->version;
}

void read_report(void* context, ReportSnapshot* snapshot) {
  auto* progress = static_cast<ReportProgress*>(context);
  // finished first: once it is seen, the log read below is the last one.
  snapshot->finished = progress->finished.load(std::memory_order_acquire);
  std::lock_guard<std::mutex> hold(progress->lock);
  snapshot->status =
      catalog_status(*progress->catalog, snapshot->finished ? "" : progress->reading.c_str());
  snapshot->log_changed = progress->version != progress->read_version;
  if (snapshot->log_changed) {
    snapshot->log = progress->log;
    progress->read_version = progress->version;
  }
}

}  // namespace

std::string catalog_status(const Catalog& catalog, const char* reading) {
  std::string status = std::to_string(catalog.met.load()) + " files counted, " +
                       std::to_string(catalog.added.load()) + " new";
  if (reading[0] != '\0') status += "; reading " + std::string(reading);
  return status;
}

void catalog_report_drives(Catalog& catalog, const DataFolder& data, Scans& scans,
                           const std::vector<Drive>& drives) {
  ReportProgress progress;
  progress.catalog = &catalog;
  catalog.added = 0;
  catalog.met = 0;
  catalog.cancel = 0;
  std::thread build([&] {
    catalog_build_drives(catalog, data, scans, drives, report_log, &progress);
    progress.finished.store(true, std::memory_order_release);
  });
  desktop_catalog_report(read_report, &progress);
  build.join();
}

void catalog_report(Catalog& catalog, const DataFolder& data, Scans& scans) {
  catalog_report_drives(catalog, data, scans, catalog_drives());
}
