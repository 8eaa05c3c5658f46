#pragma once
// Whole-file access for the settings store and the log writer. Paths are
// absolute UTF-8 paths. Implementations never throw.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tw::platform {

class FileStore {
 public:
  virtual ~FileStore() = default;
  // The whole content, or nullopt when the file is missing, unreadable, not a
  // regular file or larger than max_bytes.
  virtual std::optional<std::string> read(const std::string& path, std::size_t max_bytes) = 0;
  // Why read(path, max_bytes) gives nothing although something is there, so
  // that a caller can say so instead of treating the file as missing. None
  // when the file reads or nothing is there (a store that cannot tell says
  // None as well).
  enum class Obstacle { None, TooBig, NotAFile, Unreadable };
  virtual Obstacle read_obstacle(const std::string& path, std::size_t max_bytes) {
    (void)path;
    (void)max_bytes;
    return Obstacle::None;
  }
  // Replaces the file atomically (temporary file in the same folder, then
  // rename), creating the folder when it is missing. False on any failure; the
  // old content is then untouched.
  virtual bool replace(const std::string& path, std::string_view content) = 0;
  // Appends `content` (or, with truncate, replaces the content by it), creating
  // the file. False when the file cannot be opened or the write is short.
  virtual bool write(const std::string& path, std::string_view content, bool truncate) = 0;
  // Free bytes available to this user on the file system that holds `path`
  // (or its nearest existing parent). nullopt when it cannot be read.
  virtual std::optional<std::uint64_t> free_bytes(const std::string& path) = 0;
};

}  // namespace tw::platform
