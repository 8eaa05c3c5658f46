#pragma once
// A process runner for tests: each start() plays a scripted child that hands
// out its output in chunks, one chunk per read(), then ends (or keeps running
// silently until terminated).
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/process_runner.h"

namespace tw::platform {

struct FakeChildScript {
  std::deque<std::pair<std::string, std::string>> chunks;  // (stdout, stderr) per read
  bool ends = true;  // false: runs until terminated once the chunks are used up
  // What an interrupted child writes before it ends (ping's summary); with
  // ignores_interrupt it writes nothing and is terminated after the grace.
  std::string on_interrupt;
  bool ignores_interrupt = false;
};

class FakeProcessRunner : public ProcessRunner {
 public:
  Result<std::unique_ptr<ChildProcess>> start(const std::vector<std::string>& argv) override {
    std::lock_guard lock(mutex);
    started.push_back(argv);
    if (start_errno != 0) return Error::from_errno("The program cannot be started.", "starting " + argv[0], start_errno);
    return std::unique_ptr<ChildProcess>(std::make_unique<Child>(*this, script));
  }

  std::mutex mutex;
  std::vector<std::vector<std::string>> started;
  FakeChildScript script;
  int start_errno = 0;
  int terminated = 0;
  int interrupted = 0;
  int reads_after_chunks = 0;  // reads of a child that has nothing more to say

 private:
  class Child : public ChildProcess {
   public:
    Child(FakeProcessRunner& owner, FakeChildScript script) : owner_(owner), script_(std::move(script)) {}
    Progress read(std::string& out, std::string& err, int) override {
      if (!script_.chunks.empty()) {
        out += script_.chunks.front().first;
        err += script_.chunks.front().second;
        script_.chunks.pop_front();
        return Progress::Running;
      }
      std::lock_guard lock(owner_.mutex);
      ++owner_.reads_after_chunks;
      return script_.ends || ended_ ? Progress::Ended : Progress::Running;
    }
    void terminate() override {
      std::lock_guard lock(owner_.mutex);
      ++owner_.terminated;
      ended_ = true;
    }
    void interrupt(std::string& out, std::string&, int, std::stop_token) override {
      {
        std::lock_guard lock(owner_.mutex);
        ++owner_.interrupted;
      }
      if (script_.ignores_interrupt) {
        terminate();
        return;
      }
      out += script_.on_interrupt;
      ended_ = true;
    }

   private:
    FakeProcessRunner& owner_;
    FakeChildScript script_;
    bool ended_ = false;
  };
};

}  // namespace tw::platform
