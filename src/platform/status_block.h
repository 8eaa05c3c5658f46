#pragma once
// The shared status block: a small named memory area that other programs on
// the desktop read to get the Traffic Monitor's current statistics record.
// The owner publishes the record every 200 ms.
//
// Layout (1024 bytes): the record as a NUL-terminated string from offset 0,
// then undefined bytes, and at offset 1023 the ended flag: 0 while the record
// comes from a running instance, 1 once that instance has ended. A record
// therefore holds at most 1022 characters, so that its NUL never reaches the
// flag and readers that only take the string see what they always saw.
// When the record is shorter than kStatusStampOffset characters (every real
// one is: fifteen numbers), the 8 bytes from that offset hold when it was
// written (CLOCK_MONOTONIC in milliseconds, native byte order), so a reader
// can tell a record that a running writer renews every 200 ms from the last
// one of a writer that was killed and never set the ended flag.
#include <cstddef>
#include <string_view>

#include "base/error.h"

namespace tw::platform {

inline constexpr std::size_t kStatusBlockSize = 1024;
inline constexpr std::size_t kStatusEndedOffset = kStatusBlockSize - 1;
inline constexpr std::size_t kStatusRecordMax = kStatusEndedOffset - 1;
inline constexpr std::size_t kStatusStampOffset = kStatusEndedOffset - 8;

// The part of `record` that goes into the block: up to its first NUL (readers
// see a C string) and at most kStatusRecordMax characters.
inline std::string_view fit_status_record(std::string_view record) {
  record = record.substr(0, record.find('\0'));
  return record.substr(0, kStatusRecordMax);
}

class StatusBlock {
 public:
  virtual ~StatusBlock() = default;
  // An open block can always be written; a publish may still be skipped.
  virtual bool is_supported() { return true; }
  // Copies fit_status_record(record) with a terminating NUL to the start of
  // the block and clears the ended flag, under the block's lock. An error
  // when it was not written (no block, or the lock stayed taken); the block
  // then keeps its last record. Called from one thread (the main thread's
  // 200 ms timer).
  virtual Status publish(std::string_view record) = 0;
};

}  // namespace tw::platform
