#include "tools/command_run.h"

#include <cerrno>
#include <cstring>

namespace tw::tools {
namespace {

constexpr const char* kAborted = "Aborted.";
// How long one read of the worker waits for output before it looks at the
// run state again: short enough that an abort is served at once.
constexpr int kReadWaitMs = 50;

}  // namespace

std::vector<std::string> split_options(std::string_view options) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < options.size()) {
    while (pos < options.size() && (options[pos] == ' ' || options[pos] == '\t')) ++pos;
    const std::size_t start = pos;
    while (pos < options.size() && options[pos] != ' ' && options[pos] != '\t') ++pos;
    if (pos > start) words.emplace_back(options.substr(start, pos - start));
  }
  return words;
}

std::string start_failure_text(std::string_view program, const Error& error) {
  std::string why = error.errno_value == ENOENT ? std::string("it is not installed")
                    : error.errno_value != 0    ? std::string(std::strerror(error.errno_value))
                                                : error.headline;
  return "The program \"" + std::string(program) + "\" cannot be started: " + why + ".\r\n";
}

bool CommandRun::start(std::string_view options, std::string_view host) {
  if (host.empty() || state_.load() != kIdle) return false;
  command_line_ = std::string(kind_.program) + " " + std::string(options) + " -- " + std::string(host);
  argv_.assign(1, std::string(kind_.program));
  for (auto& w : split_options(options)) argv_.push_back(std::move(w));
  argv_.emplace_back("--");
  argv_.emplace_back(host);
  {
    std::lock_guard lock(mutex_);
    output_.clear();
    errors_.clear();
  }
  state_.store(kStarting);
  return true;
}

bool CommandRun::request_abort() {
  int expected = kRunning;
  return state_.compare_exchange_strong(expected, kAbortRequested);
}

void CommandRun::cancel() {
  // A worker that has not begun yet never starts the child.
  int expected = kStarting;
  if (!state_.compare_exchange_strong(expected, kAbortRequested)) request_abort();
}

void CommandRun::append(const std::string& out, const std::string& err) {
  if (out.empty() && err.empty()) return;
  std::lock_guard lock(mutex_);
  output_ += out;
  // Linux's ping and traceroute report an unknown host or a bad option on
  // standard error only; hiding it would leave the user an empty box.
  output_ += err;
  errors_ += err;
}

void CommandRun::run_worker(platform::ProcessRunner& runner, std::stop_token token) {
  {
    std::lock_guard lock(mutex_);
    output_ = ">" + command_line_ + "\r\n";
  }
  int expected = kStarting;
  if (!state_.compare_exchange_strong(expected, kRunning)) {
    state_.store(kFinished);
    return;
  }
  auto child = runner.start(argv_);
  if (!child) {
    append(start_failure_text(kind_.program, child.error()), {});
    state_.store(kFinished);
    return;
  }
  std::string out, err;
  for (;;) {
    out.clear();
    err.clear();
    const auto progress = (*child)->read(out, err, kReadWaitMs);
    append(out, err);
    if (progress == platform::ChildProcess::Progress::Ended) break;
    // The tab closing stops the token before it asks for the abort, so an
    // abort seen here with the token stopped is a close: no Ctrl+C then.
    const bool aborted = state_.load() == kAbortRequested;
    if (token.stop_requested()) {
      (*child)->terminate();
      break;
    }
    if (aborted) {
      out.clear();
      err.clear();
      (*child)->interrupt(out, err, kInterruptGraceMs, token);
      append(out, err);
      append(std::string("\r\n\r\n") + kAborted + "\r\n", {});
      break;
    }
  }
  state_.store(kFinished);
}

CommandRun::TickOutput CommandRun::tick(std::size_t shown_length) {
  TickOutput t;
  const int s = state_.load();
  if (s == kRunning || s == kAbortRequested) {
    std::lock_guard lock(mutex_);
    if (output_.size() != shown_length) {
      t.show = true;
      t.text = output_;
    }
  } else if (s == kFinished) {
    t.show = true;
    t.text = output();
    t.finished = true;
    state_.store(kIdle);
  }
  return t;
}

std::string CommandRun::output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

std::string CommandRun::errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

}  // namespace tw::tools
