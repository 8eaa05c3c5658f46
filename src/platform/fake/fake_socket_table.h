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
  std::map<std::uint64_t, int> owners;
  std::vector<ProcessEntry> processes;
  int walks = 0;
};

}  // namespace tw::platform
