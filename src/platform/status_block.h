#pragma once
// The shared status block: a small named memory area that other programs on
// the desktop read to get the Traffic Monitor's current statistics record.
// The owner publishes the record every 200 ms.
#include <cstddef>
#include <string_view>

namespace tw::platform {

// Size of the block in bytes; a record takes at most one byte less, for its
// terminating NUL.
inline constexpr std::size_t kStatusBlockSize = 1024;
inline constexpr std::size_t kStatusRecordMax = kStatusBlockSize - 1;

// The part of `record` that goes into the block: up to its first NUL (readers
// see a C string) and at most kStatusRecordMax characters.
inline std::string_view fit_status_record(std::string_view record) {
  record = record.substr(0, record.find('\0'));
  return record.substr(0, kStatusRecordMax);
}

class StatusBlock {
 public:
  virtual ~StatusBlock() = default;
  // Copies fit_status_record(record) with a terminating NUL to the start of
  // the block, under the block's lock. False when it was not written (no
  // block, or the lock stayed taken); the block then keeps its last record.
  // Called from one thread (the main thread's 200 ms timer).
  virtual bool publish(std::string_view record) = 0;
};

}  // namespace tw::platform
