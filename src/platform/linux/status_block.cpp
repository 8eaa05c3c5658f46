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

#include "platform/linux/system_info.h"

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

enum class Claim { Ours, Foreign, Failed };

// The memory object `name`, opened for writing and created when missing.
// Foreign when it belongs to another user, whether or not its mode lets us in.
Claim open_memory(const std::string& name, OwnedFd& fd, Error& error) {
  fd = OwnedFd(::shm_open(name.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  if (!fd) {
    if (errno == EACCES) return Claim::Foreign;
    error = Error::from_errno(kOpenFailed, "shm_open " + name, errno);
    return Claim::Failed;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    error = Error::from_errno(kOpenFailed, "fstat " + name, errno);
    return Claim::Failed;
  }
  if (st.st_uid != ::geteuid()) {
    fd.reset();
    return Claim::Foreign;
  }
  if (static_cast<std::size_t>(st.st_size) < kStatusBlockSize &&
      ::ftruncate(fd.get(), static_cast<off_t>(kStatusBlockSize)) != 0) {
    // Grow only: another instance may already use a block of this size, and
    // a block that is larger does no harm.
    error = Error::from_errno(kOpenFailed, "ftruncate " + name, errno);
    return Claim::Failed;
  }
  return Claim::Ours;
}

// glibc keeps named semaphores as files "sem.NAME" in /dev/shm; their owner is
// not visible through sem_t.
bool semaphore_is_foreign(const std::string& name) {
  const std::string path = "/dev/shm/sem." + name.substr(name.starts_with('/') ? 1 : 0);
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_uid != ::geteuid();
}

Claim open_semaphore(const std::string& name, sem_t*& sem, Error& error) {
  sem = ::sem_open(name.c_str(), O_CREAT, 0600, 1);
  if (sem == SEM_FAILED) {
    if (errno == EACCES) return Claim::Foreign;
    error = Error::from_errno(kOpenFailed, "sem_open " + name, errno);
    return Claim::Failed;
  }
  if (semaphore_is_foreign(name)) {
    ::sem_close(sem);
    sem = SEM_FAILED;
    return Claim::Foreign;
  }
  return Claim::Ours;
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
  Error why;
  for (const StatusBlockNames& names : {shared, per_user_status_names(shared, ::geteuid())}) {
    OwnedFd fd;
    Claim claim = open_memory(names.memory, fd, why);
    if (claim == Claim::Failed) break;
    if (claim == Claim::Foreign) continue;
    sem_t* sem = SEM_FAILED;
    claim = open_semaphore(names.mutex, sem, why);
    if (claim == Claim::Failed) break;
    if (claim == Claim::Foreign) continue;
    void* map = ::mmap(nullptr, kStatusBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (map == MAP_FAILED) {
      why = Error::from_errno(kOpenFailed, "mmap " + names.memory, errno);
      ::sem_close(sem);
      break;
    }
    // The mapping keeps the memory; the descriptor is not needed any more.
    return std::unique_ptr<PosixStatusBlock>(new PosixStatusBlock(map, sem, names, lock_timeout));
  }
  if (why.detail.empty())
    why = Error{kOpenFailed, "the status blocks " + shared.memory + " and its per-user one belong to other users",
                EACCES};
  return why;
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
  block[kStatusEndedOffset] = 0;
  ::sem_post(sem_);
  return {};
}

std::optional<StatusRecord> read_status_block(const StatusBlockNames& shared) {
  for (const StatusBlockNames& names : {shared, per_user_status_names(shared, ::geteuid())}) {
    OwnedFd fd(::shm_open(names.memory.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (!fd) continue;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid()) continue;
    return read_block(fd, static_cast<std::size_t>(st.st_size), names.mutex);
  }
  return std::nullopt;
}

}  // namespace tw::platform
