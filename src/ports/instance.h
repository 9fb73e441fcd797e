// The single-instance lock.
#pragma once

// Takes the per-user lock called name for the rest of the process's life. It
// is kept in data_folder (ending with its separator) beside the files it
// guards, so that every login of the same user sees it; where no lock can be
// kept there (an empty or unwritable folder), in the login's own place.
// held when this process now holds it, held_elsewhere when another process
// does, unavailable when the lock cannot be had at all.
enum class InstanceLock { held, held_elsewhere, unavailable };
InstanceLock claim_instance_lock(const char* data_folder, const char* name);
