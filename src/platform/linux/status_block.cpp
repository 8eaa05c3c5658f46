#include "platform/linux/status_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/system_info.h"

namespace tw::platform {
namespace {

constexpr int kAbandonAfter = 3;

void set_error(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

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

}  // namespace

PosixStatusBlock::PosixStatusBlock(void* map, sem_t* sem, std::chrono::milliseconds lock_timeout)
    : map_(map), sem_(sem), lock_timeout_(lock_timeout) {}

PosixStatusBlock::~PosixStatusBlock() {
  ::munmap(map_, kStatusBlockSize);
  ::sem_close(sem_);
}

std::unique_ptr<PosixStatusBlock> PosixStatusBlock::open(std::string* error, const std::string& memory_name,
                                                         const std::string& mutex_name,
                                                         std::chrono::milliseconds lock_timeout) {
  OwnedFd fd(::shm_open(memory_name.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  if (!fd) {
    set_error(error, "shm_open " + memory_name + ": " + std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    set_error(error, "fstat " + memory_name + ": " + std::strerror(errno));
    return nullptr;
  }
  // Grow only: another instance may already use a block of this size, and a
  // block that is larger does no harm.
  if (static_cast<std::size_t>(st.st_size) < kStatusBlockSize &&
      ::ftruncate(fd.get(), static_cast<off_t>(kStatusBlockSize)) != 0) {
    set_error(error, "ftruncate " + memory_name + ": " + std::strerror(errno));
    return nullptr;
  }
  void* map = ::mmap(nullptr, kStatusBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) {
    set_error(error, "mmap " + memory_name + ": " + std::strerror(errno));
    return nullptr;
  }
  // The mapping keeps the memory; the descriptor is not needed any more.
  sem_t* sem = ::sem_open(mutex_name.c_str(), O_CREAT, 0600, 1);
  if (sem == SEM_FAILED) {
    set_error(error, "sem_open " + mutex_name + ": " + std::strerror(errno));
    ::munmap(map, kStatusBlockSize);
    return nullptr;
  }
  return std::unique_ptr<PosixStatusBlock>(new PosixStatusBlock(map, sem, lock_timeout));
}

bool PosixStatusBlock::publish(std::string_view record) {
  if (!lock_within(sem_, lock_timeout_)) {
    if (++timeouts_in_a_row_ < kAbandonAfter) return false;
    // Nobody sane holds this lock for seconds to copy 1 KiB: its holder died
    // inside. Release it for them and take it ourselves.
    timeouts_in_a_row_ = 0;
    ::sem_post(sem_);
    if (::sem_trywait(sem_) != 0) return false;
  }
  timeouts_in_a_row_ = 0;
  std::string_view fit = fit_status_record(record);
  auto* block = static_cast<char*>(map_);
  std::memcpy(block, fit.data(), fit.size());
  block[fit.size()] = '\0';
  ::sem_post(sem_);
  return true;
}

std::optional<std::string> read_status_block(const std::string& memory_name, const std::string& mutex_name) {
  OwnedFd fd(::shm_open(memory_name.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!fd) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || st.st_size <= 0) return std::nullopt;
  // Map no more than the object holds: touching a page past its end would
  // raise SIGBUS (a writer that has created but not yet sized it).
  std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(st.st_size), kStatusBlockSize);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) return std::nullopt;

  char copy[kStatusBlockSize];
  sem_t* sem = ::sem_open(mutex_name.c_str(), 0);
  bool locked = sem != SEM_FAILED && lock_within(sem, std::chrono::seconds(1));
  std::memcpy(copy, map, size);
  if (locked) ::sem_post(sem);
  if (sem != SEM_FAILED) ::sem_close(sem);
  ::munmap(map, size);

  std::size_t len = 0;
  while (len < size && copy[len] != '\0') ++len;
  return std::string(copy, len);
}

}  // namespace tw::platform
