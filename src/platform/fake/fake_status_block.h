#pragma once
// A status block in memory, for tests of the code that publishes records.
#include <string>

#include "platform/status_block.h"

namespace tw::platform {

class FakeStatusBlock : public StatusBlock {
 public:
  bool publish(std::string_view record) override {
    ++publish_count;
    if (fail) return false;
    content = std::string(fit_status_record(record));
    return true;
  }

  std::string content;     // the record as a reader would see it
  int publish_count = 0;   // calls, failed ones included
  bool fail = false;       // publish() fails and leaves `content` alone
};

}  // namespace tw::platform
