#include "platform/linux/status_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>

#include "platform/linux/owned_fd.h"

namespace tw::platform {
namespace {

constexpr int kAbandonAfter = 3;

constexpr const char* kOpenFailed = "The status block cannot be opened.";

// Waits for the semaphore until `timeout` has passed on the monotonic clock
// (a wall-clock jump must not shorten or stretch the wait).
bool lock_within(sem_t* sem, std::chrono::milliseconds timeout) {
  struct timespec deadline {};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
  deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
  deadline.tv_nsec += static_cast<long>(ns % 1000000000);
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000;
  }
  for (;;) {
    if (::sem_clockwait(sem, CLOCK_MONOTONIC, &deadline) == 0) return true;
    if (errno != EINTR) return false;  // ETIMEDOUT
  }
}

// Why a name cannot be used (nullopt when it can): a detail for the error
// when no name could be.
using Refusal = std::optional<std::string>;

// What an object of ours must be: a regular shared-memory file of our own.
// Anything else under the name (another user's object, a FIFO or a link
// someone planted in the world-writable /dev/shm) is not used.
Refusal not_ours(const std::string& name, const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return name + " is not a shared-memory object";
  if (st.st_uid != ::geteuid()) return name + " belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  return std::nullopt;
}

// The memory object `name`, opened for writing and created when missing.
// O_NOFOLLOW|O_NONBLOCK: a link is refused, a FIFO opens without waiting for
// a writer and is then refused. An object of ours is new (empty, we size it)
// or a whole block; any other size is not a block we made.
Refusal open_memory(const std::string& name, OwnedFd& fd) {
  fd = OwnedFd(::shm_open(name.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (!fd) return "shm_open " + name + ": " + std::strerror(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return "fstat " + name + ": " + std::strerror(errno);
  if (Refusal r = not_ours(name, st)) return r;
  if (st.st_size == static_cast<off_t>(kStatusBlockSize)) return std::nullopt;
  if (st.st_size != 0) return name + " has " + std::to_string(st.st_size) + " bytes, not " + std::to_string(kStatusBlockSize);
  // Another instance of ours may size it at the same moment, to the same size.
  if (::ftruncate(fd.get(), static_cast<off_t>(kStatusBlockSize)) != 0)
    return "ftruncate " + name + ": " + std::strerror(errno);
  return std::nullopt;
}

// glibc keeps named semaphores as files "sem.NAME" in /dev/shm; sem_t does
// not tell who owns it.
std::string semaphore_file(const std::string& name) {
  return "/dev/shm/sem." + name.substr(name.starts_with('/') ? 1 : 0);
}

// The semaphore file as it is now: nullopt when it is ours (or not there),
// else why it is not.
Refusal foreign_semaphore(const std::string& name) {
  struct stat st {};
  const std::string file = semaphore_file(name);
  if (::lstat(file.c_str(), &st) != 0) return errno == ENOENT ? Refusal() : Refusal("lstat " + file + ": " + std::strerror(errno));
  return not_ours(file, st);
}

Refusal open_semaphore(const std::string& name, sem_t*& sem) {
  // glibc opens the file with O_NOFOLLOW: a planted link fails here.
  sem = ::sem_open(name.c_str(), O_CREAT, 0600, 1);
  if (sem == SEM_FAILED) return "sem_open " + name + ": " + std::strerror(errno);
  if (Refusal r = foreign_semaphore(name)) {
    ::sem_close(sem);
    sem = SEM_FAILED;
    return r;
  }
  return std::nullopt;
}

std::uint64_t monotonic_ms() {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

// The record and flag of the block open on `fd`, read under `mutex_name`.
std::optional<StatusRecord> read_block(const OwnedFd& fd, std::size_t object_size, const std::string& mutex_name) {
  if (object_size == 0) return std::nullopt;
  // Map no more than the object holds: touching a page past its end would
  // raise SIGBUS (a writer that has created but not yet sized it).
  const std::size_t size = std::min(object_size, kStatusBlockSize);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) return std::nullopt;

  char copy[kStatusBlockSize];
  sem_t* sem = ::sem_open(mutex_name.c_str(), 0);
  const bool locked = sem != SEM_FAILED && lock_within(sem, std::chrono::seconds(1));
  std::memcpy(copy, map, size);
  if (locked) ::sem_post(sem);
  if (sem != SEM_FAILED) ::sem_close(sem);
  ::munmap(map, size);

  StatusRecord record;
  const std::size_t text_room = std::min(size, kStatusEndedOffset);
  std::size_t len = 0;
  while (len < text_room && copy[len] != '\0') ++len;
  record.text.assign(copy, len);
  record.ended = size > kStatusEndedOffset && copy[kStatusEndedOffset] != 0;
  if (size >= kStatusBlockSize && len < kStatusStampOffset) {
    std::uint64_t stamp = 0;
    std::memcpy(&stamp, copy + kStatusStampOffset, sizeof stamp);
    const std::uint64_t now = monotonic_ms();
    // 0: sized but never published. A stamp from the future cannot be ours.
    if (stamp != 0 && stamp <= now) record.age_ms = now - stamp;
  }
  return record;
}

}  // namespace

StatusBlockNames per_user_status_names(const StatusBlockNames& shared, uid_t uid) {
  const std::string suffix = "_" + std::to_string(uid);
  return {shared.memory + suffix, shared.mutex + suffix};
}

PosixStatusBlock::PosixStatusBlock(void* map, sem_t* sem, StatusBlockNames names,
                                   std::chrono::milliseconds lock_timeout)
    : map_(map), sem_(sem), names_(std::move(names)), lock_timeout_(lock_timeout) {}

PosixStatusBlock::~PosixStatusBlock() {
  const bool locked = lock_within(sem_, lock_timeout_);
  static_cast<volatile char*>(map_)[kStatusEndedOffset] = 1;
  if (locked) ::sem_post(sem_);
  ::munmap(map_, kStatusBlockSize);
  ::sem_close(sem_);
}

Result<std::unique_ptr<PosixStatusBlock>> PosixStatusBlock::open(const StatusBlockNames& shared,
                                                                 std::chrono::milliseconds lock_timeout) {
  std::string why;
  for (const StatusBlockNames& names : {shared, per_user_status_names(shared, ::geteuid())}) {
    OwnedFd fd;
    Refusal refused = open_memory(names.memory, fd);
    sem_t* sem = SEM_FAILED;
    if (!refused) refused = open_semaphore(names.mutex, sem);
    if (refused) {
      // Not ours or not usable: the next pair of names.
      why += (why.empty() ? "" : "; ") + *refused;
      continue;
    }
    void* map = ::mmap(nullptr, kStatusBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (map == MAP_FAILED) {
      why += (why.empty() ? "mmap " : "; mmap ") + names.memory + ": " + std::strerror(errno);
      ::sem_close(sem);
      continue;
    }
    // The mapping keeps the memory; the descriptor is not needed any more.
    return std::unique_ptr<PosixStatusBlock>(new PosixStatusBlock(map, sem, names, lock_timeout));
  }
  return Error{kOpenFailed, why, EACCES};
}

bool PosixStatusBlock::lock() {
  if (lock_within(sem_, lock_timeout_)) {
    timeouts_in_a_row_ = 0;
    return true;
  }
  if (++timeouts_in_a_row_ < kAbandonAfter) return false;
  // Nobody sane holds this lock for seconds to copy 1 KiB: its holder died
  // inside. Release it for them and take it ourselves.
  timeouts_in_a_row_ = 0;
  ::sem_post(sem_);
  return ::sem_trywait(sem_) == 0;
}

Status PosixStatusBlock::publish(std::string_view record) {
  if (!lock())
    return Error{"The status block was not written.", "the lock of " + names_.memory + " stayed taken", ETIMEDOUT};
  std::string_view fit = fit_status_record(record);
  auto* block = static_cast<char*>(map_);
  std::memcpy(block, fit.data(), fit.size());
  block[fit.size()] = '\0';
  // When it was written, for readers that tell a running writer from one that
  // died without marking its record (the record's bytes hold it otherwise).
  if (fit.size() < kStatusStampOffset) {
    const std::uint64_t now = monotonic_ms();
    std::memcpy(block + kStatusStampOffset, &now, sizeof now);
  }
  block[kStatusEndedOffset] = 0;
  ::sem_post(sem_);
  return {};
}

std::optional<StatusRecord> read_status_block(const StatusBlockNames& shared) {
  for (const StatusBlockNames& names : {shared, per_user_status_names(shared, ::geteuid())}) {
    // O_NONBLOCK: a FIFO planted under the name would wait for a writer.
    OwnedFd fd(::shm_open(names.memory.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0));
    if (!fd) continue;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || not_ours(names.memory, st)) continue;
    // A writer takes these names only when the semaphore is ours too.
    if (foreign_semaphore(names.mutex)) continue;
    // Created but not yet sized: nothing to read yet. Another size is no
    // block a writer of ours would take either.
    if (st.st_size == 0) return std::nullopt;
    if (st.st_size != static_cast<off_t>(kStatusBlockSize)) continue;
    return read_block(fd, static_cast<std::size_t>(st.st_size), names.mutex);
  }
  return std::nullopt;
}

}  // namespace tw::platform
