#pragma once
// A connection killer set by hand: tests say whether it is supported and what
// close() returns, and read which connections it was asked to close.
#include <vector>

#include "platform/connection_killer.h"

namespace tw::platform {

class FakeConnectionKiller : public ConnectionKiller {
 public:
  bool is_supported() override { return supported; }
  Status close(const SocketId& id) override {
    closed.push_back(id);
    return result;
  }

  bool supported = true;
  Status result;                // what every close() returns
  std::vector<SocketId> closed; // every close() in order
};

}  // namespace tw::platform
