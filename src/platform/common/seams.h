// The file layers' test seams (ports/files.h), one implementation for every
// layer: platform/common/seams.cpp joins each file layer's sources.
#pragma once

// Calls the disk-change seam, when one is set.
void disk_change();
// Calls the copy seam with the source's path, when one is set.
void copy_piece_read(const char* source);
// Whether a test stands for a file system without unnamed files.
bool unnamed_files_refused();
// Whether a test stands for folders on two file systems.
bool renames_cross_devices();
// Calls the flush seam once a flush has made what it was given durable.
void disk_flushed();
