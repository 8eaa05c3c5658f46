#pragma once
// A status block in memory, for tests of the code that publishes records.
#include <cerrno>
#include <string>

#include "platform/status_block.h"

namespace tw::platform {

class FakeStatusBlock : public StatusBlock {
 public:
  Status publish(std::string_view record) override {
    ++publish_count;
    if (fail) return Error{"The status block was not written.", "the test made the publish fail", ETIMEDOUT};
    content = std::string(fit_status_record(record));
    return {};
  }

  std::string content;     // the record as a reader would see it
  int publish_count = 0;   // calls, failed ones included
  bool fail = false;       // publish() fails and leaves `content` alone
};

}  // namespace tw::platform
