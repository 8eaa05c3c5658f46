#pragma once
// Socket and process tables set by hand.
#include <map>
#include <vector>

#include "platform/socket_table.h"

namespace tw::platform {

class FakeSocketTable : public SocketTable {
 public:
  bool is_supported() override { return supported; }
  Result<std::vector<SocketRow>> read(SocketProtocol p) override {
    ++reads;
    if (fail) return Error{"Could not read the socket table.", "fake", 0};
    return p == SocketProtocol::Tcp ? tcp : udp;
  }
  bool supported = true;
  bool fail = false;
  int reads = 0;
  std::vector<SocketRow> tcp, udp;
};

class FakeProcessTable : public ProcessTable {
 public:
  int owner_of_socket(std::uint64_t inode) override {
    const auto it = owners.find(inode);
    return it == owners.end() ? -1 : it->second;
  }
  std::vector<ProcessEntry> list_processes() override {
    ++walks;
    return processes;
  }
  // Sockets in `handed_over` get their new owner when they are checked.
  int verify_owners(std::span<const std::uint64_t> inodes) override {
    verified.assign(inodes.begin(), inodes.end());
    ++verifications;
    int stale = 0;
    for (const auto i : inodes)
      if (const auto it = handed_over.find(i); it != handed_over.end()) {
        owners[i] = it->second;
        handed_over.erase(it);
        ++stale;
      }
    return stale;
  }
  std::map<std::uint64_t, int> owners;
  std::map<std::uint64_t, int> handed_over;
  std::vector<ProcessEntry> processes;
  std::vector<std::uint64_t> verified;  // the sockets of the last check
  int walks = 0;
  int verifications = 0;
};

}  // namespace tw::platform
