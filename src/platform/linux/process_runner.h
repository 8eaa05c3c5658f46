#pragma once
// ProcessRunner for Linux: posix_spawnp with standard output and standard
// error on pipes and standard input from /dev/null. The child gets a process
// group of its own, so that ending it ends whatever it started too, and the
// default dispositions of the signals a desktop program may ignore (SIGPIPE).
#include "platform/process_runner.h"

namespace tw::platform {

class SpawnProcessRunner final : public ProcessRunner {
 public:
  Result<std::unique_ptr<ChildProcess>> start(const std::vector<std::string>& argv) override;
};

}  // namespace tw::platform
