// The PING/TRACERT run with a scripted child.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/fake/fake_process_runner.h"
#include "tools/command_run.h"

namespace tw::tools {
namespace {

TEST(CommandRun, EchoesTheCommandAndGathersOutputUntilTheChildEnds) {
  platform::FakeProcessRunner runner;
  runner.script.chunks = {{"PING x\n", ""}, {"", "ping: warning\n"}, {"done\n", ""}};
  CommandRun run(kPingTool);
  EXPECT_FALSE(run.start("-c 4", ""));  // an empty host does nothing
  ASSERT_TRUE(run.start(" -c 4  -W 1", "-host"));
  EXPECT_EQ(run.state(), CommandRun::kStarting);
  run.run_worker(runner);
  ASSERT_EQ(runner.started.size(), 1u);
  // No shell, and the host can never be read as an option.
  EXPECT_EQ(runner.started[0], (std::vector<std::string>{"ping", "-c", "4", "-W", "1", "--", "-host"}));
  // The echoed line shows the "--" that is passed.
  EXPECT_EQ(run.output(), ">ping  -c 4  -W 1 -- -host\r\nPING x\nping: warning\ndone\n");
  EXPECT_EQ(run.errors(), "ping: warning\n");

  auto t = run.tick(0);
  EXPECT_TRUE(t.finished);
  EXPECT_EQ(t.text, run.output());
  EXPECT_EQ(run.state(), CommandRun::kIdle);
}

// Waits until the scripted child has handed out all its chunks.
void wait_for_silence(platform::FakeProcessRunner& runner) {
  for (;;) {
    {
      std::lock_guard lock(runner.mutex);
      if (runner.reads_after_chunks > 0) return;
    }
    std::this_thread::yield();
  }
}

TEST(CommandRun, AbortInterruptsTheChildAndSaysSoAfterItsSummary) {
  platform::FakeProcessRunner runner;
  runner.script.chunks = {{"64 bytes from x\n", ""}};
  runner.script.ends = false;
  runner.script.on_interrupt = "--- x ping statistics ---\n";
  CommandRun run(kPingTool);
  ASSERT_TRUE(run.start("-c 100", "x"));
  EXPECT_FALSE(run.request_abort());  // not running yet
  std::thread worker([&] { run.run_worker(runner); });
  wait_for_silence(runner);
  auto t = run.tick(0);
  EXPECT_TRUE(t.show);
  EXPECT_FALSE(t.finished);
  EXPECT_FALSE(run.tick(t.text.size()).show);  // nothing new: the box is left alone
  EXPECT_TRUE(run.request_abort());
  worker.join();
  // Ctrl+C's summary comes before "Aborted.".
  EXPECT_EQ(run.output(), ">ping -c 100 -- x\r\n64 bytes from x\n--- x ping statistics ---\n\r\n\r\nAborted.\r\n");
  EXPECT_EQ(runner.interrupted, 1);
  EXPECT_EQ(runner.terminated, 0);
  EXPECT_TRUE(run.tick(0).finished);
}

TEST(CommandRun, ClosingTheTabTerminatesTheChildAtOnce) {
  platform::FakeProcessRunner runner;
  runner.script.chunks = {{" 1  10.0.0.1\n", ""}};
  runner.script.ends = false;
  CommandRun run(kTracertTool);
  ASSERT_TRUE(run.start("-m 20", "x"));
  std::stop_source stop;
  std::thread worker([&] { run.run_worker(runner, stop.get_token()); });
  wait_for_silence(runner);
  stop.request_stop();  // as the tab does: the token, then the run
  run.cancel();
  worker.join();
  EXPECT_EQ(runner.interrupted, 0);  // nobody is left to read a summary
  EXPECT_EQ(runner.terminated, 1);
  EXPECT_TRUE(run.tick(0).finished);
}

TEST(CommandRun, CancelBeforeTheWorkerBeginsStartsNoChild) {
  platform::FakeProcessRunner runner;
  CommandRun run(kPingTool);
  ASSERT_TRUE(run.start("-c 4", "h"));
  run.cancel();
  run.run_worker(runner);
  EXPECT_TRUE(runner.started.empty());
  EXPECT_TRUE(run.tick(0).finished);
}

TEST(CommandRun, MissingProgramGivesALine) {
  platform::FakeProcessRunner runner;
  runner.start_errno = ENOENT;
  CommandRun run(kTracertTool);
  ASSERT_TRUE(run.start("-m 20 -w 1", "h"));
  run.run_worker(runner);
  EXPECT_EQ(run.output(),
            ">traceroute -m 20 -w 1 -- h\r\nThe program \"traceroute\" cannot be started: it is not installed.\r\n");
  EXPECT_EQ(run.state(), CommandRun::kFinished);
}

}  // namespace
}  // namespace tw::tools
