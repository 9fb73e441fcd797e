// The single-instance lock.
#pragma once

// Takes the per-user lock called name for the rest of the process's life.
// 1 when this process now holds it, 0 when another process does, -1 when
// the lock cannot be had at all.
int claim_instance_lock(const char* name);
