// The catalog: "TesmiCat.lbf" in the data folder, one record per file found on
// the machine's fixed, network and RAM drives, which also carries the
// backup's per-file backup times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/list_file.h"
#include "ports/drives.h"
#include "state/app_state.h"

inline constexpr char kCatalogFileName[] = "TesmiCat.lbf";
// The fields of a catalog record, in its layout's order: the file's path;
// its size (low 32 bits) as a build found it or the backup last copied it;
// the write time of that copy and when the run that made it started (the
// two halves of 100-ns units since 1601-01-01 UTC); and 1 when a build found
// the file gone (no answer names it, while the backup still finds its
// times; a field the catalog's first layout leaves at 0).
enum CatalogField : std::uint32_t {
  kCatalogPath = 1,
  kCatalogSize = 2,
  kCatalogWrittenHigh = 3,
  kCatalogWrittenLow = 4,
  kCatalogBackupHigh = 5,
  kCatalogBackupLow = 6,
  kCatalogGone = 7,
};
// Bytes of the build's log; past kLogLimit characters its head is dropped.
constexpr std::uint32_t kCatalogLogBytes = 10240000;
constexpr std::uint32_t kCatalogLogLimit = 10000000;
constexpr std::uint32_t kCatalogLogTrim = 100000;

// What opening the catalog had to mend.
struct CatalogMends {
  std::uint32_t dropped;  // damaged records dropped
  bool set_aside;         // a file that was no catalog renamed to kCatalogAside
};
inline constexpr char kCatalogAside[] = "TesmiCat.lbf.damaged";
// Makes sure the catalog is open, mapped and writable: reuses a catalog that
// opens, dropping its damaged slots; sets a file that is no list file aside
// (a link is renamed, never written through) and starts a new catalog, as
// when the file is missing; leaves a file held by another process alone (the
// catalog then stays closed).
CatalogMends catalog_open(Catalog& catalog, const DataFolder& data);
// Whether a mapped list is laid out as catalog_create lays one out: a path,
// then numbers.
bool catalog_layout_sound(const ListFile& catalog);
// Maps the catalog read-only, mending and creating nothing: true when it is
// open with a catalog's fields.
bool catalog_open_for_reading(Catalog& catalog, const DataFolder& data);
// Creates an empty catalog (slot 0 taken and freed) at the catalog's path and
// maps it writable. Returns its base, or null.
std::uint8_t* catalog_create(ListFile& catalog);
// A build's step for one file: adds a record with the path and size (asked
// of listing, the open folder, when given) unless the path is listed already
// (a listed one gone is back). Notes the path in run (a build's, or null) and
// counts it in catalog.met. Returns count unchanged: a build has no limit.
std::uint32_t catalog_add_file(Catalog& catalog, FolderListing* listing, const char* folder,
                               const char* name, std::uint32_t count, void* run = nullptr);
// Whether a record is marked gone; marks or unmarks it (writing only a change).
bool catalog_is_gone(ListFile& catalog, std::uint32_t slot);
void catalog_set_gone(Catalog& catalog, std::uint32_t slot, bool gone);
// The highest slot whose path is the list's search_key, as the file system
// compares names (byte for byte on POSIX, ignoring letter case on Windows).
std::int32_t catalog_find_path(ListFile& catalog, const PathRules& rules = path_rules());
// Receives the whole log text after every line.
using CatalogLogSink = void (*)(void* context, const char* log);
// Appends "\r\n" and line to the log, trimming its head past 10,000,000
// characters, and shows the log through the sink.
void catalog_log_line(Catalog& catalog, const char* line, CatalogLogSink sink, void* context);
// A tree a build reads: a drive's mount point (kept to its file system) or a
// folder named by the user.
struct CatalogTree {
  std::string folder;
  bool one_file_system;
};
enum class CatalogBuilt {
  done,
  not_opened,    // the catalog could not be opened or made (catalog.failure says why)
  busy,          // another scan of this process runs
  stopped,       // asked to stop (catalog.cancel); nothing was marked gone
  index_failed,  // built, but its index could not be written
};
// The whole build: open, claim the scan, sort, then a log line and a scan of
// each tree, every file it meets added or found; at the end, every record of
// those trees that was not met and whose file is no longer there is marked
// gone, and the index is written anew.
CatalogBuilt catalog_build_trees(Catalog& catalog, const DataFolder& data, Scans& scans,
                                 const std::vector<CatalogTree>& trees, CatalogLogSink sink,
                                 void* context);
// The same over the given drives, each on its own file system.
void catalog_build_drives(Catalog& catalog, const DataFolder& data, Scans& scans,
                          const std::vector<Drive>& drives, CatalogLogSink sink, void* context);
// The progress of a build: "N files counted, M new", and "; reading TREE"
// when reading is not empty.
std::string catalog_status(const Catalog& catalog, const char* reading);
// The "Results Report" of the "Catalog" command: the build over drives runs
// on a thread of its own while the desktop shows its log and count; returns
// once the build has ended and the report was closed.
void catalog_report_drives(Catalog& catalog, const DataFolder& data, Scans& scans,
                           const std::vector<Drive>& drives);
// The same over the machine's drives (catalog_drives).
void catalog_report(Catalog& catalog, const DataFolder& data, Scans& scans);
