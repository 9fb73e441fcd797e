// The file layers' test seams: the disk-change seam, the copy seam and the
// file system without unnamed files (where a layer has unnamed files at all).
#include "platform/common/seams.h"

#include <atomic>

#include "ports/files.h"

namespace {
std::atomic<DiskChangeSeam> disk_change_seam{nullptr};
std::atomic<CopySeam> copy_seam{nullptr};
std::atomic<DiskChangeSeam> flush_seam{nullptr};
std::atomic<bool> unnamed_refused{false};
std::atomic<bool> renames_cross{false};
}  // namespace

void set_disk_change_seam(DiskChangeSeam seam) {
  disk_change_seam = seam;
}

void disk_change() {
  if (const DiskChangeSeam seam = disk_change_seam.load(); seam != nullptr) seam();
}

void set_flush_seam(DiskChangeSeam seam) {
  flush_seam = seam;
}

void disk_flushed() {
  if (const DiskChangeSeam seam = flush_seam.load(); seam != nullptr) seam();
}

void set_copy_seam(CopySeam seam) {
  copy_seam = seam;
}

void copy_piece_read(const char* source) {
  if (const CopySeam seam = copy_seam.load(); seam != nullptr) seam(source);
}

void set_unnamed_files_refused(bool refused) {
  unnamed_refused = refused;
}

bool unnamed_files_refused() {
  return unnamed_refused.load();
}

void set_renames_cross_devices(bool cross) {
  renames_cross = cross;
}

bool renames_cross_devices() {
  return renames_cross.load();
}
