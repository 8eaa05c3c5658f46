#pragma once
// Waiting for a predecessor to end: a restarting instance is started with the
// old instance's process id and must not run until that process is gone.
//
// Blocks the calling thread for at most `timeout`; meant for start-up, before
// any window or thread exists.
#include <chrono>

namespace tw::platform {

enum class WaitResult {
  Gone,          // the process ended (or ended while we waited)
  TimedOut,      // still running when the time was up
  CouldNotOpen,  // no such process (already gone, never existed, pid <= 0)
};

// Uses a pidfd (pidfd_open + poll), which also sees the exit of a process that
// is not our child; falls back to wait_for_process_exit_by_polling on kernels
// without pidfd_open.
WaitResult wait_for_process_exit(long pid, std::chrono::milliseconds timeout);

// The fallback: checks every 50 ms whether the process still exists. A zombie
// (ended, not yet reaped by its parent) counts as ended.
WaitResult wait_for_process_exit_by_polling(long pid, std::chrono::milliseconds timeout);

}  // namespace tw::platform
