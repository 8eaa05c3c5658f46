#pragma once
// The file store on a local Linux file system.
//
// - read() opens with O_NONBLOCK and refuses anything that is not a regular
//   file, so a FIFO or a device placed where a settings file should be can
//   never block the caller.
// - replace() writes a hidden temporary file beside the target, fsyncs it,
//   renames it over the target and fsyncs the folder: after a crash the file
//   holds either the old or the new content, never a mix. An existing file
//   keeps its permission bits (and, when we may, its owner); a symlinked
//   target is followed so the link itself survives.
// - Missing parent folders are created with mode 0700: they are our own data
//   folders (~/.config/tarnwatch and below).
//
// Stateless: any thread may call any member, but two threads replacing the
// same path at once race like two processes would (last rename wins).
#include "platform/file_store.h"

namespace tw::platform {

class LinuxFileStore : public FileStore {
 public:
  Result<std::string> read(const std::string& path, std::size_t max_bytes) override;
  Result<std::string> read_part(const std::string& path, std::uint64_t offset, std::size_t max_bytes) override;
  Status replace(const std::string& path, std::string_view content) override;
  Status write(const std::string& path, std::string_view content, bool truncate) override;
  Status remove(const std::string& path) override;
  Result<std::uint64_t> free_bytes(const std::string& path) override;
};

// Creates `folder` and its missing parents (mode 0700 for the new ones).
// True when the folder exists afterwards; otherwise errno says why.
bool make_folders(const std::string& folder);

}  // namespace tw::platform
