#include "backup/copy_batch.h"

#include <algorithm>

namespace backup_parts {
namespace {

void release(CopyBatch& batch, TargetFolder folder) {
  const auto use = batch.uses.find(folder);
  if (use == batch.uses.end() || --use->second > 0) return;
  batch.uses.erase(use);
  const auto left = std::find(batch.left.begin(), batch.left.end(), folder);
  if (left == batch.left.end()) return;
  batch.left.erase(left);
  target_close(folder);
}

}  // namespace

void batch_add(CopyBatch& batch, const StagedCopy& staged, const BatchedCopy& facts) {
  batch.staged.push_back(staged);
  batch.staged_facts.push_back(facts);
  batch.staged_bytes += facts.copied.size;
  ++batch.uses[staged.folder];
}

bool batch_full(const CopyBatch& batch, std::uint32_t files) {
  return batch.staged.size() >= std::max<std::uint32_t>(files, 1) ||
         batch.staged_bytes >= kBatchBytes || batch.left.size() >= kBatchFolders;
}

void batch_leave(CopyBatch& batch, TargetFolder folder) {
  if (batch.uses.count(folder) > 0) {
    batch.left.push_back(folder);
  } else {
    target_close(folder);
  }
}

void batch_flush(CopyBatch& batch, const BatchEnds& ends) {
  std::int32_t error = 0;
  const bool flushed = target_flush(batch.staged, batch.named, &error);
  for (std::size_t i = 0; i < batch.named.size(); ++i) {
    if (flushed) {
      ends.recorded(ends.context, batch.named_facts[i]);
    } else {
      ends.failed(ends.context, batch.named_facts[i], "flush", error);
    }
    release(batch, batch.named[i].folder);
  }
  batch.named.clear();
  batch.named_facts.clear();
  for (std::size_t i = 0; i < batch.staged.size(); ++i) {
    StagedCopy& copy = batch.staged[i];
    if (!flushed) {
      target_drop_staged(copy);
      ends.failed(ends.context, batch.staged_facts[i], "flush", error);
      release(batch, copy.folder);
    } else if (std::int32_t failure = 0; target_name_staged(copy, &failure)) {
      batch.named.push_back(copy);
      batch.named_facts.push_back(batch.staged_facts[i]);
    } else {
      ends.failed(ends.context, batch.staged_facts[i], "write", failure);
      release(batch, copy.folder);
    }
  }
  batch.staged.clear();
  batch.staged_facts.clear();
  batch.staged_bytes = 0;
}

void batch_finish(CopyBatch& batch, const BatchEnds& ends) {
  while (!batch.staged.empty() || !batch.named.empty()) batch_flush(batch, ends);
  for (const TargetFolder folder : batch.left) target_close(folder);
  batch.left.clear();
  batch.uses.clear();
}

}  // namespace backup_parts
