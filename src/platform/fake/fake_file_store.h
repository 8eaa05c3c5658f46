#pragma once
// An in-memory file system for tests: a map from path to content, with knobs
// for the failures the real one can have.
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/file_store.h"

namespace tw::platform {

class FakeFileStore : public FileStore {
 public:
  Result<std::string> read(const std::string& path, std::size_t max_bytes) override {
    auto it = files.find(path);
    if (it == files.end()) return Error{"The file cannot be read.", path + ": missing", kFileMissingErrno};
    if (unreadable.count(path)) return Error::from_errno("The file cannot be read.", "opening " + path, EACCES);
    if (it->second.size() > max_bytes) return Error{"The file cannot be read.", path + ": too big", kFileTooBigErrno};
    return it->second;
  }
  Result<std::string> read_part(const std::string& path, std::uint64_t offset, std::size_t max_bytes) override {
    auto it = files.find(path);
    if (it == files.end()) return Error{"The file cannot be read.", path + ": missing", kFileMissingErrno};
    if (unreadable.count(path)) return Error::from_errno("The file cannot be read.", "opening " + path, EACCES);
    ++part_reads;
    if (offset >= it->second.size()) return std::string();
    return it->second.substr(static_cast<std::size_t>(offset), max_bytes);
  }
  Status replace(const std::string& path, std::string_view content) override {
    if (Status s = check_writable(path); !s) return s;
    ++replace_count;
    files[path] = std::string(content);
    return {};
  }
  Status write(const std::string& path, std::string_view content, bool truncate) override {
    if (Status s = check_writable(path); !s) return s;
    auto& f = files[path];
    if (truncate) f.clear();
    f.append(content);
    return {};
  }
  Status remove(const std::string& path) override {
    if (Status s = check_writable(path); !s) return s;
    files.erase(path);
    return {};
  }
  Result<std::uint64_t> free_bytes(const std::string& path) override {
    free_asked.push_back(path);
    if (auto it = free_at.find(path); it != free_at.end()) return it->second;
    if (!free) return Error::from_errno("The free space cannot be read.", "examining " + path, EIO);
    return *free;
  }

  std::map<std::string, std::string> files;
  std::set<std::string> unreadable;   // read() fails for these
  std::set<std::string> unwritable;   // replace()/write() fail for these
  bool read_only = false;             // every write fails
  int write_errno = EACCES;           // what a failing write reports
  std::optional<std::uint64_t> free = std::uint64_t{1} << 40;
  std::map<std::string, std::uint64_t> free_at;  // free_bytes() of these paths
  std::vector<std::string> free_asked;           // the paths free_bytes() was asked for
  // When not negative: how many more replace()/write()/remove() calls
  // succeed; every later one fails, as if the process had been killed there.
  int writes_left = -1;
  int replace_count = 0;
  int part_reads = 0;  // read_part() calls that read

 private:
  Status check_writable(const std::string& path) {
    if (read_only || unwritable.count(path) || writes_left == 0)
      return Error::from_errno("The file cannot be written.", "opening " + path, write_errno);
    if (writes_left > 0) --writes_left;
    return {};
  }
};

}  // namespace tw::platform
