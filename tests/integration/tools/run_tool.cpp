// Runs the PING tool once as the calling user and prints what the tab would
// show: the tests run it as an unprivileged user.
//   tw_run_tool OPTIONS HOST
#include <cstdio>

#include "platform/linux/process_runner.h"
#include "tools/command_run.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tw_run_tool OPTIONS HOST\n");
    return 2;
  }
  tw::platform::SpawnProcessRunner runner;
  tw::tools::CommandRun run(tw::tools::kPingTool);
  if (!run.start(argv[1], argv[2])) return 2;
  run.run_worker(runner);
  std::fputs(run.output().c_str(), stdout);
  return 0;
}
