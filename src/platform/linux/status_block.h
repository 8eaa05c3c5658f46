#pragma once
// The shared status block on Linux: POSIX shared memory "/Tarnwatch_Memory"
// (1024 bytes, mode 0600) guarded by the POSIX named semaphore
// "/Tarnwatch_Mutex" (initial value 1, used as a lock by writers and readers).
//
// One user's figures never reach another user. The first user whose instance
// publishes owns the two names until the machine restarts (they are never
// removed, see below); the instances of every other user publish under
// "/Tarnwatch_Memory_UID" and "/Tarnwatch_Mutex_UID" instead (UID in decimal).
// A name counts as ours only when the objects behind it are a regular
// shared-memory object of a whole block (or a new, empty one) and a semaphore
// file, both belonging to our effective user: the mode alone would let root
// write into someone else's block and let a planted, world-writable object
// feed us figures. Both are opened with O_NOFOLLOW and the memory with
// O_NONBLOCK, so a link or a FIFO planted in the world-writable /dev/shm is
// refused without waiting; any name that is not usable for whatever reason
// sends us to the per-user names. Readers (tarnixctl status) look for their
// own user's block by the same rule.
//
// Both names are left in place when the block is closed: another instance may
// still publish into it and a reader may be reading it, and unlinking a
// semaphore someone holds would hand a new one to the next opener. A leftover
// 1 KiB object is reused by the next run. Closing marks the record as ended
// instead (the flag at offset 1023), so that readers can tell a record of a
// running instance from the last one of an instance that has gone.
//
// A holder that dies inside its critical section leaves the semaphore at 0 for
// good. Waits are therefore bounded (1 s by default): a publish that cannot
// get the lock is skipped, and after three such publishes in a row the lock is
// taken to be abandoned and released once, so a dead reader cannot stall the
// main thread every 200 ms for the rest of the session.
#include <semaphore.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/status_block.h"

namespace tw::platform {

inline constexpr char kStatusMemoryName[] = "/Tarnwatch_Memory";
inline constexpr char kStatusMutexName[] = "/Tarnwatch_Mutex";

// The names of one block: shared memory and its semaphore.
struct StatusBlockNames {
  std::string memory = kStatusMemoryName;
  std::string mutex = kStatusMutexName;
  bool operator==(const StatusBlockNames&) const = default;
};

// The names of `uid`'s own block when another user owns `shared`:
// "<memory>_UID" and "<mutex>_UID".
StatusBlockNames per_user_status_names(const StatusBlockNames& shared, uid_t uid);

class PosixStatusBlock : public StatusBlock {
 public:
  // Opens (creating them when missing) this user's memory and semaphore:
  // `shared` when they are free or ours, the per-user names otherwise. Two
  // instances of one user open the same block and take turns writing it. An
  // error's detail names what failed on which name. Tests pass their own
  // names.
  static Result<std::unique_ptr<PosixStatusBlock>> open(const StatusBlockNames& shared = {},
                                                        std::chrono::milliseconds lock_timeout = std::chrono::seconds(1));

  // Marks the record as ended (bounded by the lock timeout; without the lock
  // the flag is set anyway, a single byte cannot tear) and unmaps the block.
  ~PosixStatusBlock() override;
  PosixStatusBlock(const PosixStatusBlock&) = delete;
  PosixStatusBlock& operator=(const PosixStatusBlock&) = delete;

  // The names this block was opened under.
  const StatusBlockNames& names() const { return names_; }

  // One thread at a time.
  Status publish(std::string_view record) override;

 private:
  PosixStatusBlock(void* map, sem_t* sem, StatusBlockNames names, std::chrono::milliseconds lock_timeout);
  bool lock();

  void* map_;
  sem_t* sem_;
  StatusBlockNames names_;
  std::chrono::milliseconds lock_timeout_;
  int timeouts_in_a_row_ = 0;
};

struct StatusRecord {
  std::string text;    // the record, up to its NUL
  bool ended = false;  // the instance that wrote it has ended
  // Milliseconds since it was written; nullopt when the block does not say
  // (never published, or a record too long to leave room for the stamp).
  // Not compared.
  std::optional<std::uint64_t> age_ms = std::nullopt;
  bool operator==(const StatusRecord& o) const { return text == o.text && ended == o.ended; }
};

// This user's record, for tarnixctl: from `shared` when that block is ours,
// else from our per-user block. nullopt when this user has no block (none of
// this user's instances has run since boot). Takes the lock for at most 1 s
// and reads without it after that (the writer is gone or stuck; a torn read is
// better than none). Never creates anything.
std::optional<StatusRecord> read_status_block(const StatusBlockNames& shared = {});

}  // namespace tw::platform
