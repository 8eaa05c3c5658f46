#pragma once
// The single-instance marker: an exclusive flock on RUNTIME/<base>.lock, where
// <base> is the program's base name ("tarnix" for both tarnix and tarnixd, so
// the two count as instances of one program).
//
// Nobody waits on the lock; it only tells a starting instance whether another
// one runs. The kernel drops it when the process ends in any way (even
// SIGKILL), so a crashed instance never leaves a stale marker behind, and a
// restarting instance that waited for its predecessor starts as the first one.
//
// Keep the object alive for the life of the process (hold it in main()).
// Not thread-safe; create it once at start-up.
#include <string>
#include <string_view>

#include "base/error.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/system_info.h"

namespace tw::platform {

class InstanceLock {
 public:
  // Locks runtime_folder() + base_name + ".lock". When no lock can be made at
  // all (no private runtime folder, file not creatable) the instance counts as
  // the first one: we cannot tell, and the unsuffixed settings file is the
  // natural default; status() then says why.
  static InstanceLock acquire(std::string_view base_name);
  // The same on an explicit lock-file path.
  static InstanceLock acquire_at(const std::string& lock_path);

  // RUNTIME/<base_name>.lock; empty without a private runtime folder.
  static std::string path_for(std::string_view base_name);
  // Whether some live process holds the lock on `lock_path` (a first
  // instance runs), without touching the lock: taking it even for a moment
  // could make an instance starting at that moment a second one. Read from
  // the kernel's table of locks (/proc/locks). False when the file is not
  // there or the table cannot be read.
  static bool held_by_a_live_process(const std::string& lock_path);

  // True when no other live process holds the lock.
  bool first_instance() const { return first_; }
  // "" for the first instance, "_#2" for any later one (they share it).
  std::string_view instance_suffix() const { return first_ ? "" : "_#2"; }
  // True when this process holds the lock (false for a later instance and
  // when the lock could not be made).
  bool held() const { return held_; }
  // Why no lock could be made (its detail names the file and the system's
  // reason); success when a lock was made or another instance holds it.
  const Status& status() const { return status_; }

 private:
  OwnedFd fd_;
  bool first_ = true;
  bool held_ = false;
  Status status_;
};

}  // namespace tw::platform
