#pragma once
// The file store on a local Linux file system.
//
// - read() opens with O_NONBLOCK and refuses anything that is not a regular
//   file, so a FIFO or a device placed where a settings file should be can
//   never block the caller.
// - replace() writes a hidden temporary file beside the name
//   (".NAME.tmpPID.RANDOM", O_EXCL|O_NOFOLLOW), fsyncs it, renames it onto
//   the name and fsyncs the folder: after a crash the file holds either the
//   old or the new content, never a mix. A symlink at the name is replaced,
//   never followed, so a link planted in a folder others may write cannot
//   make us replace the file it names. An existing regular file keeps its
//   permission bits (and, when we may, its owner).
// - write() (the logs) opens with O_NOFOLLOW and refuses a file that belongs
//   to another user or has more than one hard link; an entry is written whole
//   or not at all (a short write is cut off again).
// - Missing parent folders are created with mode 0700: they are our own data
//   folders (~/.config/tarnwatch and below).
//
// Stateless: any thread may call any member, but two threads replacing the
// same path at once race like two processes would (last rename wins).
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

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

// Whether a path may be trusted to hold our settings, rules and lists, as
// OpenSSH's StrictModes decides for its files: success when nothing is there,
// or when it (what a symlink names) belongs to the effective user, others may
// not write it, and a group that may write it has no member but the user (a
// user-private group, as Debian gives every user: files saved under umask
// 002 stay usable). Otherwise an error whose detail names the path and the
// reason. Start-up only (it walks the passwd database).
Status check_trusted(const std::string& path);

// The members of a group: the users that have it as their primary group and
// those it lists.
struct GroupMembers {
  std::string name;
  std::vector<uid_t> primary_of;
  std::vector<std::string> listed;
};
// True when `uid` (named `user_name`) is the group's only member: it is
// nobody else's primary group and lists nobody else. A group without any
// member is not private to anyone.
bool group_is_private_to(const GroupMembers& group, uid_t uid, std::string_view user_name);

// Removes the temporary files that replace() left in `folder` for files whose
// names begin with `name_prefix` when their writer was killed before the
// rename (a writer that still runs keeps its file). Returns what it removed.
std::vector<std::string> remove_stray_temporaries(const std::string& folder, std::string_view name_prefix);

}  // namespace tw::platform
