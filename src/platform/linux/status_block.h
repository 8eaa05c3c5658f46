#pragma once
// The shared status block on Linux: POSIX shared memory "/Tarnwatch_Memory"
// (1024 bytes, mode 0600) guarded by the POSIX named semaphore
// "/Tarnwatch_Mutex" (initial value 1, used as a lock by writers and readers).
//
// Both names are left in place when the block is closed: another instance may
// still publish into it and a reader may be reading it, and unlinking a
// semaphore someone holds would hand a new one to the next opener. A leftover
// 1 KiB object is reused by the next run.
//
// A holder that dies inside its critical section leaves the semaphore at 0 for
// good. Waits are therefore bounded (1 s by default): a publish that cannot
// get the lock is skipped, and after three such publishes in a row the lock is
// taken to be abandoned and released once, so a dead reader cannot stall the
// main thread every 200 ms for the rest of the session.
#include <semaphore.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/status_block.h"

namespace tw::platform {

inline constexpr char kStatusMemoryName[] = "/Tarnwatch_Memory";
inline constexpr char kStatusMutexName[] = "/Tarnwatch_Mutex";

class PosixStatusBlock : public StatusBlock {
 public:
  // Opens (creating them when missing) the memory and the semaphore. Two
  // instances open the same block and take turns writing it. On failure
  // returns null and sets *error (when given). Tests pass their own names.
  static std::unique_ptr<PosixStatusBlock> open(
      std::string* error, const std::string& memory_name = kStatusMemoryName,
      const std::string& mutex_name = kStatusMutexName,
      std::chrono::milliseconds lock_timeout = std::chrono::seconds(1));

  ~PosixStatusBlock() override;
  PosixStatusBlock(const PosixStatusBlock&) = delete;
  PosixStatusBlock& operator=(const PosixStatusBlock&) = delete;

  // One thread at a time.
  bool publish(std::string_view record) override;

 private:
  PosixStatusBlock(void* map, sem_t* sem, std::chrono::milliseconds lock_timeout);

  void* map_;
  sem_t* sem_;
  std::chrono::milliseconds lock_timeout_;
  int timeouts_in_a_row_ = 0;
};

// The record in the block, for tarnixctl: nullopt when no block exists (no
// instance has run since boot). Takes the lock for at most 1 s and reads
// without it after that (the writer is gone or stuck; a torn read is better
// than none). Never creates anything.
std::optional<std::string> read_status_block(const std::string& memory_name = kStatusMemoryName,
                                             const std::string& mutex_name = kStatusMutexName);

}  // namespace tw::platform
