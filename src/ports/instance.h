// The single-instance lock.
#pragma once

// How a process holds the lock: alone (a run that writes the backups), or
// beside others that share it (the viewer, the runs that only read them).
enum class LockUse { exclusive, shared };
// Takes the per-user lock called name for the rest of the process's life, as
// use says. It is kept in data_folder (ending with its separator) beside the
// files it guards, so that every login of the same user sees it; where no
// lock can be kept there (an empty or unwritable folder), in the login's own
// place. Without create the lock's file is never made: a missing one is held
// by nobody. held when this process holds it and no other does, shared when
// it shares it with others, held_elsewhere when another process holds it so
// that this one cannot, unavailable when the lock cannot be had at all.
enum class InstanceLock { held, shared, held_elsewhere, unavailable };
InstanceLock claim_instance_lock(const char* data_folder, const char* name, LockUse use,
                                 bool create);
