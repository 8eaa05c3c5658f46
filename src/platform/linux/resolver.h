#pragma once
// Reverse lookups through glibc (getnameinfo with NI_NAMEREQD, the hosts
// database for private addresses) and lookup workers as plain threads. Names
// come from name servers and files of other people: their control
// characters are made '?'.
#include <condition_variable>
#include <mutex>

#include "platform/reverse_resolver.h"

namespace tw::platform {

// Any thread; each call blocks for as long as the resolver takes.
class SystemReverseResolver : public ReverseResolver {
 public:
  std::optional<std::string> name_of(std::uint32_t address_be) override;
  std::optional<std::string> local_name_of(std::uint32_t address_be) override;
  std::optional<std::string> udp_service_name(std::uint16_t port) override;
};

// One detached thread per job. Destruction waits until every job has ended,
// so the jobs may use objects that outlive this one.
class ThreadLookupWorkers : public LookupWorkers {
 public:
  ~ThreadLookupWorkers() override;
  bool start(std::function<void()> work, std::function<void()> finished) override;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  int running_ = 0;
};

}  // namespace tw::platform
