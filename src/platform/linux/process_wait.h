#pragma once
// The two ends of a restart: the old instance starts its successor, which is
// given the old instance's process id and must not run until that process is
// gone.
//
// The waits block the calling thread for at most `timeout`; meant for
// start-up, before any window or thread exists.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/error.h"

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

// Starts `program` with `args` (after argv[0]) in the current folder, with
// our environment and standard streams, no signal blocked and default signal
// dispositions, and does not wait for it. Its process id, or why it could not
// be started (exec failures included). Nothing reaps it: it outlives us.
Result<pid_t> start_successor(const std::string& program, const std::vector<std::string>& args);

}  // namespace tw::platform
