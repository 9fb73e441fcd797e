// The copies of a backup run, made durable in batches: each copy is written
// whole under a temporary name, a batch of them flushed at once, then named;
// a copy is recorded in the catalog only once a later flush has put its name
// on the disk. A power cut thus leaves each file with its old copy or its
// whole new one, and the catalog never names a copy the disk lacks.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ports/backup_target.h"

namespace backup_parts {

// What the run records of a copy once its name is durable.
struct BatchedCopy {
  std::int32_t slot;  // its catalog record
  CopiedFile copied;
  std::string destination;  // for messages
};

struct CopyBatch {
  std::vector<StagedCopy> staged;  // written; their bytes not yet flushed
  std::vector<BatchedCopy> staged_facts;
  std::vector<StagedCopy> named;  // named; their names not yet flushed
  std::vector<BatchedCopy> named_facts;
  std::uint64_t staged_bytes = 0;
  // The folders the copies are named in, kept open while a copy needs them;
  // those the walk has left are closed once none does.
  std::map<TargetFolder, std::uint32_t> uses;
  std::vector<TargetFolder> left;
};

// What a batch holds at most before it is flushed, besides the copies the
// run asks for: bytes, and folders the walk has left, each held open.
inline constexpr std::uint64_t kBatchBytes = 256ull << 20;
inline constexpr std::size_t kBatchFolders = 200;

// Told of each copy a flush settles: recorded once its name is durable, or
// failed (doing is "write" or "flush") with the copy not named or not
// recorded, so that the next run makes it again.
struct BatchEnds {
  void (*recorded)(void* context, const BatchedCopy& copy);
  void (*failed)(void* context, const BatchedCopy& copy, const char* doing, std::int32_t error);
  void* context;
};

void batch_add(CopyBatch& batch, const StagedCopy& staged, const BatchedCopy& facts);
bool batch_full(const CopyBatch& batch, std::uint32_t files);
// The walk is done with folder: closed now, or once no copy needs it.
void batch_leave(CopyBatch& batch, TargetFolder folder);
// One flush: the staged copies' bytes and the named ones' names made
// durable; the named ones are then recorded and the staged ones named. When
// the flush fails nothing is named or recorded and every temporary goes.
void batch_flush(CopyBatch& batch, const BatchEnds& ends);
// Flushes until every copy is recorded or failed.
void batch_finish(CopyBatch& batch, const BatchEnds& ends);

}  // namespace backup_parts
