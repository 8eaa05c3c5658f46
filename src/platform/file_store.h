#pragma once
// Whole-file access for the settings store and the log writer. Paths are
// absolute UTF-8 paths. Implementations never throw.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.h"

namespace tw::platform {

// The errno values read() reports for the cases a caller tells apart.
inline constexpr int kFileMissingErrno = ENOENT;   // nothing at the path
inline constexpr int kFileTooBigErrno = EFBIG;     // larger than max_bytes
inline constexpr int kNotAFileErrno = EINVAL;      // a folder, FIFO, device, socket ...

class FileStore {
 public:
  virtual ~FileStore() = default;
  // A file system can always be asked; a single operation may still fail.
  virtual bool is_supported() { return true; }
  // The whole content, or why there is none: the error's errno_value is
  // kFileMissingErrno, kFileTooBigErrno, kNotAFileErrno or the system's
  // reason the file could not be read (EACCES, EIO, ...).
  virtual Result<std::string> read(const std::string& path, std::size_t max_bytes) = 0;
  // Up to `max_bytes` bytes of the file from byte `offset` on: fewer at its
  // end, none past it. Reads a file too large to hold whole a piece at a time.
  // Errors as read(), never kFileTooBigErrno.
  virtual Result<std::string> read_part(const std::string& path, std::uint64_t offset, std::size_t max_bytes) = 0;
  // Replaces the file atomically (temporary file in the same folder, then
  // rename), creating the folder when it is missing. On an error the old
  // content is untouched.
  virtual Status replace(const std::string& path, std::string_view content) = 0;
  // Appends `content` (or, with truncate, replaces the content by it), creating
  // the file. An error when the file cannot be opened or the write is short.
  virtual Status write(const std::string& path, std::string_view content, bool truncate) = 0;
  // Deletes the file; a file that is not there counts as deleted.
  virtual Status remove(const std::string& path) = 0;
  // Free bytes available to this user on the file system that holds `path`
  // (or its nearest existing parent).
  virtual Result<std::uint64_t> free_bytes(const std::string& path) = 0;
};

}  // namespace tw::platform
