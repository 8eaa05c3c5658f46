#pragma once
// A packet filter for tests: remembers what is installed and can be told to
// fail.
#include <optional>

#include "platform/packet_filter.h"

namespace tw::platform {

class FakePacketFilter : public PacketFilter {
 public:
  bool is_supported() override { return supported; }
  Status apply(const FilterSet& set) override {
    ++apply_count;
    if (fail_apply) return *fail_apply;
    installed = set;
    return {};
  }
  Status remove() override {
    ++remove_count;
    installed.reset();
    return {};
  }

  bool supported = true;
  std::optional<Error> fail_apply;
  std::optional<FilterSet> installed;  // nullopt: nothing installed
  int apply_count = 0;
  int remove_count = 0;
};

}  // namespace tw::platform
